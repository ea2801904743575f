// Tests that store Media Access Keys: the key store is the user's, so each test starts and
// ends with it empty.
#pragma once

#include "GraphSupport.h"
#include "keys/KeyStore.h"

namespace korvane::test {

class EmptyKeyStoreTest : public PackTest {
protected:
    void SetUp() override {
        RegDeleteKeyW(HKEY_CURRENT_USER, filters::kKeyStorePath);
        PackTest::SetUp();
    }
    void TearDown() override {
        PackTest::TearDown();
        RegDeleteKeyW(HKEY_CURRENT_USER, filters::kKeyStorePath);
    }
};

}  // namespace korvane::test

// The Media Access Keys that have opened a recording, remembered for this Windows user.
//
// Each key is one REG_BINARY value ("Key 1", "Key 2", ...) under the filter pack's own key
// HKCU\Software\Halvenor\Korvane Filters\Media Access Keys, sealed with DPAPI for the current
// user: another account on the machine, or a copied registry hive, reads noise. The program's
// settings key (HKCU\Software\Halvenor\Korvane) is never touched: the program knows nothing
// of keys. Several keys are normal, one per TiVo account in the home.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace korvane::filters {

extern const wchar_t kKeyStorePath[];

// The stored keys (10 ASCII digits each), oldest first. Values that cannot be unsealed (made
// by another user, damaged) are skipped, not deleted: they may still be someone's.
std::vector<std::string> StoredKeys();

// The keys stored under an open key store (KEY_QUERY_VALUE), as StoredKeys reads them.
std::vector<std::string> KeysIn(HKEY key);

// Stores digits unless it is already there (S_FALSE then). Processes storing keys at once
// take turns, so each key gets a value of its own.
HRESULT RememberKey(const std::string& digits);

// Removes every value holding digits; S_FALSE when none did.
HRESULT ForgetKey(const std::string& digits);

}  // namespace korvane::filters

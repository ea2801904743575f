// Exceptions stop at the filter pack's COM boundary (ComGuard.h) and at the program's window
// procedures (framework/CaughtException.h): each becomes its HRESULT, and each leaves a trace.
// The trace is seen as the system delivers it, an exception raised by OutputDebugStringA.
#include "ComGuard.h"
#include "framework/CaughtException.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::vector<std::string> traces;

LONG CALLBACK RecordTrace(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    traces.emplace_back(reinterpret_cast<const char*>(record->ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_EXECUTION;
}

class GuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        traces.clear();
        m_handler = AddVectoredExceptionHandler(1, RecordTrace);
        ASSERT_NE(m_handler, nullptr);
    }
    void TearDown() override { RemoveVectoredExceptionHandler(m_handler); }

    static bool Traced(const std::string& part) {
        for (const std::string& t : traces)
            if (t.find(part) != std::string::npos) return true;
        return false;
    }

private:
    void* m_handler = nullptr;
};

using korvane::filters::GuardedCall;

TEST_F(GuardTest, EachExceptionBecomesItsResultAndLeavesATrace) {
    EXPECT_EQ(GuardedCall("Test::Fine", [] { return S_FALSE; }), S_FALSE);
    EXPECT_TRUE(traces.empty());

    EXPECT_EQ(GuardedCall("Test::Allocate", []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    EXPECT_TRUE(Traced("Test::Allocate caught an exception: out of memory"));

    EXPECT_EQ(GuardedCall("Test::Parse", []() -> HRESULT { throw std::runtime_error("bad header"); }),
              E_UNEXPECTED);
    EXPECT_TRUE(Traced("Test::Parse caught an exception: bad header"));

    EXPECT_EQ(GuardedCall("Test::Odd", []() -> HRESULT { throw 7; }), E_UNEXPECTED);
    EXPECT_TRUE(Traced("Test::Odd caught an exception: not a standard exception"));
}

TEST_F(GuardTest, AWindowProcedureTracesWhatItCaught) {
    try {
        throw std::length_error("too many rows");
    } catch (...) {
        fw::TraceCaughtException("a dialog procedure");
    }
    EXPECT_TRUE(Traced("a dialog procedure caught an exception: too many rows"));
    try {
        throw std::bad_alloc();
    } catch (...) {
        fw::TraceCaughtException("WinMain");
    }
    EXPECT_TRUE(Traced("WinMain caught an exception: out of memory"));
}

}  // namespace

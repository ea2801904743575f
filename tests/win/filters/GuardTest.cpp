// Exceptions stop at the filter pack's COM boundary (ComGuard.h) and at the program's window
// procedures (framework/CaughtException.h): each becomes its HRESULT, and each leaves a trace.
// The trace is seen as the system delivers it, an exception raised by OutputDebugStringA.
#include "base/ComGuard.h"
#include "framework/CaughtException.h"

#include <gtest/gtest.h>

#include <exception>
#include <stdexcept>
#include <string>

namespace {

std::string traces;

LONG CALLBACK RecordTrace(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    traces += reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Each exception goes through the pack's guard and through a window procedure's catch-all.
TEST(GuardTest, EachExceptionBecomesItsResultAndLeavesATrace) {
    void* handler = AddVectoredExceptionHandler(1, RecordTrace);
    ASSERT_NE(handler, nullptr);
    const struct {
        std::exception_ptr thrown;
        HRESULT result;
        const char* what;  // as the traces name it
    } cases[] = {
        {std::make_exception_ptr(std::bad_alloc()), E_OUTOFMEMORY, "caught an exception: out of memory"},
        {std::make_exception_ptr(std::runtime_error("bad header")), E_UNEXPECTED,
         "caught an exception: bad header"},
        {std::make_exception_ptr(7), E_UNEXPECTED, "caught an exception"},
    };
    for (const auto& k : cases) {
        traces.clear();
        EXPECT_EQ(k.result, korvane::filters::GuardedCall(
                                "Test", [&]() -> HRESULT { std::rethrow_exception(k.thrown); }));
        try {
            std::rethrow_exception(k.thrown);
        } catch (...) {
            fw::TraceCaughtException("A window");
        }
        EXPECT_NE(std::string::npos, traces.find(std::string("Test ") + k.what)) << traces;
        EXPECT_NE(std::string::npos, traces.find(std::string("A window ") + k.what)) << traces;
    }
    traces.clear();
    EXPECT_EQ(S_FALSE, korvane::filters::GuardedCall("Test", [] { return S_FALSE; }));
    EXPECT_EQ("", traces);
    RemoveVectoredExceptionHandler(handler);
}

}  // namespace

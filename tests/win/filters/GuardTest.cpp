// Exceptions stop at the filter pack's COM boundary (ComGuard.h) and at the program's window
// procedures (framework/CaughtException.h): each becomes its HRESULT, and each leaves a trace.
// The trace is seen as the system delivers it, an exception raised by OutputDebugStringA.
#include "ComGuard.h"
#include "framework/CaughtException.h"

#include <gtest/gtest.h>

#include <exception>
#include <functional>
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

TEST(GuardTest, EachExceptionBecomesItsResultAndLeavesATrace) {
    void* handler = AddVectoredExceptionHandler(1, RecordTrace);
    ASSERT_NE(handler, nullptr);
    const struct {
        std::function<HRESULT()> call;
        HRESULT result;
        const char* trace;  // nullptr: none
    } cases[] = {
        {[] { return S_FALSE; }, S_FALSE, nullptr},
        {[]() -> HRESULT { throw std::bad_alloc(); }, E_OUTOFMEMORY,
         "Test caught an exception: out of memory"},
        {[]() -> HRESULT { throw std::runtime_error("bad header"); }, E_UNEXPECTED,
         "Test caught an exception: bad header"},
        {[]() -> HRESULT { throw 7; }, E_UNEXPECTED, "Test caught an exception: not a standard exception"},
    };
    for (const auto& k : cases) {
        traces.clear();
        EXPECT_EQ(k.result, korvane::filters::GuardedCall("Test", k.call));
        EXPECT_EQ(k.trace != nullptr, !traces.empty()) << traces;
        if (k.trace) {
            EXPECT_NE(std::string::npos, traces.find(k.trace)) << traces;
        }
    }
    const std::pair<std::exception_ptr, const char*> windowCases[] = {
        {std::make_exception_ptr(std::length_error("too many rows")),
         "a window caught an exception: too many rows"},
        {std::make_exception_ptr(std::bad_alloc()), "a window caught an exception: out of memory"}};
    for (const auto& [thrown, trace] : windowCases) {
        traces.clear();
        try {
            std::rethrow_exception(thrown);
        } catch (...) {
            fw::TraceCaughtException("a window");
        }
        EXPECT_NE(std::string::npos, traces.find(trace)) << traces;
    }
    RemoveVectoredExceptionHandler(handler);
}

}  // namespace

// The entry points for keys from outside the program:
//   rundll32 KorvaneFilters.dll,MediaAccessKey             the dialog, to add or forget keys
//   rundll32 KorvaneFilters.dll,MediaAccessKey 0123456789  stores the key without a word
//   StoreMediaAccessKeyW(L"0123456789")                    the same, called in-process
// Success is silent; rundll32 says why it refused in a message box, as it has no other way to
// tell anyone. A process's command line is readable by every program of the machine and kept
// by auditing tools, and the key is also the password of the TiVo's own web pages: setup
// programs therefore load the DLL and call StoreMediaAccessKeyW, which answers with an HRESULT
// and shows nothing.
#include <windows.h>

#include <new>
#include <string>

#include "KeyDialog.h"
#include "KeyStore.h"
#include "MediaAccessKeyText.h"

namespace korvane::filters {
namespace {

const wchar_t kCaption[] = L"Korvane Filters";

std::wstring Trimmed(const wchar_t* text) {
    std::wstring s = text ? text : L"";
    const wchar_t* blanks = L" \t\r\n";
    size_t first = s.find_first_not_of(blanks);
    if (first == std::wstring::npos) return {};
    s = s.substr(first, s.find_last_not_of(blanks) - first + 1);
    if (s.size() >= 2 && s.front() == L'"' && s.back() == L'"') s = s.substr(1, s.size() - 2);
    return s;
}

void Refuse(HWND window, const std::wstring& text) {
    MessageBoxW(window, text.c_str(), kCaption, MB_OK | MB_ICONERROR);
}

void RunMediaAccessKey(HWND window, const wchar_t* commandLine) {
    const std::wstring argument = Trimmed(commandLine);
    if (argument.empty()) {
        ManageMediaAccessKeys(window);
        return;
    }
    std::string digits;
    if (!ParseMediaAccessKey(argument, &digits)) {
        Refuse(window,
               L"\"" + argument + L"\" is not a Media Access Key: a key has 10 digits. No key was stored.");
        return;
    }
    HRESULT hr = RememberKey(digits);
    if (FAILED(hr)) {
        wchar_t code[16];
        wsprintfW(code, L"0x%08lX", static_cast<unsigned long>(hr));
        Refuse(window, std::wstring(L"The Media Access Key could not be stored in the registry (error ") +
                           code + L").");
    }
}

HRESULT StoreMediaAccessKey(const wchar_t* text) {
    std::string digits;
    if (!text || !ParseMediaAccessKey(text, &digits)) return E_INVALIDARG;
    return RememberKey(digits);
}

}  // namespace
}  // namespace korvane::filters

// S_OK when stored, S_FALSE when it was already there, E_INVALIDARG when key is not 10 digits
// (spaces and dashes aside), otherwise why the registry or DPAPI refused it.
extern "C" HRESULT WINAPI StoreMediaAccessKeyW(LPCWSTR key) {
    try {
        return korvane::filters::StoreMediaAccessKey(key);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

extern "C" void CALLBACK MediaAccessKeyW(HWND window, HINSTANCE, LPWSTR commandLine, int) {
    try {
        korvane::filters::RunMediaAccessKey(window, commandLine);
    } catch (...) {
        // Out of memory: nothing was stored, and rundll32 has no result to report it through.
    }
}

// The ANSI form, for a rundll32 that does not look for the W entry first.
extern "C" void CALLBACK MediaAccessKey(HWND window, HINSTANCE instance, LPSTR commandLine, int show) {
    try {
        std::string narrow = commandLine ? commandLine : "";
        std::wstring wide(narrow.begin(), narrow.end());
        MediaAccessKeyW(window, instance, &wide[0], show);
    } catch (...) {
    }
}

// Reads what the installer left behind through the same Windows calls Explorer uses, and
// works the setup program's pages from outside its process, one command per run:
//   installer_probe version FILE     prints the fixed file version and the version strings,
//                                     one "Name=value" a line
//   installer_probe shortcut LINK    prints the target path of a .lnk shortcut
//   installer_probe wait TITLE TEXT [SECONDS]   waits until a window titled TITLE shows a
//                                     control with that text ("a|b": either)
//   installer_probe click TITLE TEXT   posts BM_CLICK to that control
//   installer_probe checked TITLE TEXT prints 1 or 0 for that check box
//   installer_probe type TITLE TEXT    sets the text of the window's visible edit field
// Exit code 0 on success, 1 when the file, record, window or control is missing, 2 on bad
// usage. Setup and its message boxes share one title, so every window of it is searched;
// the title's trailing space (Modern UI adds an empty page subcaption) does not count.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "win32/ComPtr.h"

namespace {

int PrintVersion(const wchar_t* file) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file, &ignored);
    if (size == 0) {
        std::fprintf(stderr, "installer_probe: no version record in %ls (error %lu)\n", file,
                     ::GetLastError());
        return 1;
    }
    std::vector<BYTE> record(size);
    if (!::GetFileVersionInfoW(file, 0, size, record.data())) return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
        return 1;
    std::printf("Version=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    const wchar_t* names[] = {L"CompanyName", L"FileDescription", L"OriginalFilename",
                              L"ProductName", L"FileVersion",     L"ProductVersion"};
    for (const wchar_t* name : names) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        wchar_t* value = nullptr;
        if (::VerQueryValueW(record.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) &&
            value)
            std::printf("%ls=%ls\n", name, value);
    }
    return 0;
}

// COM stays initialised for the whole (one-command) process.
int PrintShortcutTarget(const wchar_t* link) {
    if (FAILED(::CoInitialize(nullptr))) return 1;
    ComPtr<IShellLinkW> shellLink;
    ComPtr<IPersistFile> persist;
    wchar_t target[MAX_PATH] = L"";
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(shellLink.Out()))) ||
        FAILED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(persist.Out()))) ||
        FAILED(persist->Load(link, STGM_READ)) ||
        FAILED(shellLink->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) {
        std::fprintf(stderr, "installer_probe: cannot read the shortcut %ls\n", link);
        return 1;
    }
    std::printf("%ls\n", target);
    return 0;
}

struct ControlSearch {
    std::vector<std::wstring> texts;  // any of them
    const wchar_t* className;         // or, when set, the first visible control of this class
    HWND found;
};

BOOL CALLBACK MatchControl(HWND control, LPARAM context) {
    auto* search = reinterpret_cast<ControlSearch*>(context);
    if (!::IsWindowVisible(control)) return TRUE;
    wchar_t text[512] = L"";
    if (search->className) {
        ::GetClassNameW(control, text, 512);
        if (::lstrcmpiW(text, search->className) != 0) return TRUE;
    } else {
        // WM_GETTEXT itself: GetWindowText gives no edit field's text across processes.
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                              2000, &ignored);
        bool match = false;
        for (const std::wstring& wanted : search->texts)
            match = match || wanted == text;
        if (!match) return TRUE;
    }
    search->found = control;
    return FALSE;
}

struct WindowSearch {
    const wchar_t* title;
    ControlSearch* controls;
};

BOOL CALLBACK SearchTopWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    wchar_t text[256] = L"";
    ::GetWindowTextW(window, text, 256);
    std::wstring title = text;
    title.erase(title.find_last_not_of(L' ') + 1);
    if (!::IsWindowVisible(window) || title != search->title) return TRUE;
    ::EnumChildWindows(window, MatchControl, reinterpret_cast<LPARAM>(search->controls));
    return search->controls->found ? FALSE : TRUE;
}

HWND FindControl(const wchar_t* title, const std::wstring& texts, const wchar_t* className) {
    ControlSearch controls{{}, className, nullptr};
    for (size_t at = 0;;) {
        const size_t bar = texts.find(L'|', at);
        controls.texts.push_back(texts.substr(at, bar == std::wstring::npos ? std::wstring::npos : bar - at));
        if (bar == std::wstring::npos) break;
        at = bar + 1;
    }
    WindowSearch search{title, &controls};
    ::EnumWindows(SearchTopWindow, reinterpret_cast<LPARAM>(&search));
    return controls.found;
}

int Page(const std::wstring& command, int argc, wchar_t** argv) {
    const wchar_t* title = argv[2];
    if (command == L"type") {
        HWND edit = FindControl(title, L"", L"Edit");
        if (!edit) return 1;
        ::SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
        return 0;
    }
    if (command == L"wait") {
        const double seconds = argc > 4 ? _wtof(argv[4]) : 15;
        for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < seconds * 1000; ::Sleep(50)) {
            if (FindControl(title, argv[3], nullptr)) return 0;
        }
        return 1;
    }
    HWND control = FindControl(title, argv[3], nullptr);
    if (!control) {
        std::fprintf(stderr, "installer_probe: no control \"%ls\" in \"%ls\"\n", argv[3], title);
        return 1;
    }
    if (command == L"click") return ::PostMessageW(control, BM_CLICK, 0, 0) ? 0 : 1;
    if (command == L"checked") {
        std::printf("%d\n", ::SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
        return 0;
    }
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring command = argv[1];
    if (command == L"version") return PrintVersion(argv[2]);
    if (command == L"shortcut") return PrintShortcutTarget(argv[2]);
    if (argc < 4) return 2;
    return Page(command, argc, argv);
}

// A small helper for the journeys and the installer tests: it finds the program's windows
// (and setup's) from outside the process and reads or pokes them with window messages, and
// reads what an install left behind through the calls Explorer uses. One command per run:
//   probe wait <title> [seconds]         waits for a shown top-level dialog; prints nothing
//   probe gone <title> [seconds]         waits until none is shown (looks once with 0 seconds)
//   probe text <title> <id>              prints a control's text
//   probe enabled <title> <id>           prints 1 or 0
//   probe rows <title> <id>              prints a list view's row count
//   probe cells <title> <id>             prints a list view's rows, "name<TAB>folder" each
//   probe click <title> <id>|<text>      posts BM_CLICK to a button
//   probe checked <title> <id>|<text>    prints 1 or 0 for a check box
//   probe key <title> <id> <vk>          posts WM_KEYDOWN and WM_KEYUP of a virtual key to a control
//   probe command <title> <message> <wparam>   posts a message with wParam to the window
//   probe settext <title> <id>[,<id>] <text>   sets the first existing control's text (a combo
//                                        box's edit too)
//   probe settext-and-read ...           the same, then prints the text the control holds
//   probe rect <title>                   prints the window's screen rectangle as WxH+X+Y
//   probe shows <title> <text> [seconds] waits until a window of that title shows a control
//                                        with that text
//   probe type <title> <text>            sets the text of the window's visible edit field
//   probe version <file>                 prints the fixed file version and the version
//                                        strings, one "Name=value" a line
//   probe shortcut <link>                prints the target path of a .lnk shortcut
// <id> is a dialog control id, "a,b" the first of them that exists; <text> (anything not a
// number) is a control's text, "a|b" either, looked for in every shown window of the title,
// whose trailing spaces do not count: setup and its message boxes share one title, and
// Modern UI adds an empty page subcaption.
// Exit code 0 on success, 1 when the window, control, file or record is missing, 2 on bad usage.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "win32/ComPtr.h"

namespace {

HWND FindTop(const char* title) {
    return ::FindWindowA("#32770", title);
}

bool WaitFor(const char* title, double seconds, bool shown) {
    for (const DWORD start = ::GetTickCount();; ::Sleep(20)) {
        HWND window = FindTop(title);
        if ((window && ::IsWindowVisible(window)) == shown) return true;
        if (::GetTickCount() - start >= seconds * 1000) return false;
    }
}

// A list view's cell text, read through a buffer in the program's own memory: the control
// writes its answer where the message's pointer points, in its own process.
std::string CellText(HWND list, HANDLE process, char* remote, int row, int column) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = remote + sizeof item;
    item.cchTextMax = 1024;
    if (!::WriteProcessMemory(process, remote, &item, sizeof item, nullptr)) return "?";
    const LRESULT length =
        ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote));
    char text[1025] = {};
    if (length > 0)
        ::ReadProcessMemory(process, remote + sizeof item, text, static_cast<SIZE_T>(length), nullptr);
    return text;
}

int PrintCells(HWND list) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(list, &pid);
    HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return 1;
    auto* remote = static_cast<char*>(::VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    const int rows = remote ? static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
    for (int row = 0; row < rows; ++row) {
        std::printf("%s\t%s\n", CellText(list, process, remote, row, 0).c_str(),
                    CellText(list, process, remote, row, 1).c_str());
    }
    if (remote) ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    ::CloseHandle(process);
    return remote ? 0 : 1;
}

std::vector<std::string> Split(const std::string& list, char separator) {
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
        const size_t end = list.find(separator, at);
        parts.push_back(list.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) return parts;
        at = end + 1;
    }
}

HWND Control(HWND top, const char* ids) {
    // "a,b": the first of the ids that exists; for a combo box, its edit.
    for (const std::string& id : Split(ids, ',')) {
        if (HWND control = ::GetDlgItem(top, std::atoi(id.c_str()))) {
            char name[32] = "";
            ::GetClassNameA(control, name, sizeof name);
            if (std::strcmp(name, "ComboBoxEx32") == 0) {  // Wine's file name field
                if (HWND edit = reinterpret_cast<HWND>(::SendMessageA(control, CBEM_GETEDITCONTROL, 0, 0)))
                    return edit;
            }
            if (std::strcmp(name, "ComboBox") == 0) {
                if (HWND edit = ::FindWindowExA(control, nullptr, "Edit", nullptr)) return edit;
            }
            // The control's own style: its dialog may not be shown yet.
            if (::GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) return control;
        }
    }
    return nullptr;
}

// The first shown control, in any shown window of the title, that has one of the texts or,
// with className, is of that class.
struct TextSearch {
    std::string title;
    std::vector<std::string> texts;
    const char* className;
    HWND found;
};

BOOL CALLBACK MatchControl(HWND control, LPARAM context) {
    auto* search = reinterpret_cast<TextSearch*>(context);
    char text[512] = "";
    if (!::IsWindowVisible(control)) return TRUE;
    if (search->className) {
        ::GetClassNameA(control, text, sizeof text);
        if (::lstrcmpiA(text, search->className) != 0) return TRUE;
    } else {
        // WM_GETTEXT itself: GetWindowText gives no edit field's text across processes.
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                              SMTO_ABORTIFHUNG, 2000, &ignored);
        bool match = false;
        for (const std::string& wanted : search->texts)
            match = match || wanted == text;
        if (!match) return TRUE;
    }
    search->found = control;
    return FALSE;
}

BOOL CALLBACK SearchTopWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<TextSearch*>(context);
    char text[256] = "";
    ::GetWindowTextA(window, text, sizeof text);
    std::string title = text;
    title.erase(title.find_last_not_of(' ') + 1);
    if (::IsWindowVisible(window) && title == search->title)
        ::EnumChildWindows(window, MatchControl, reinterpret_cast<LPARAM>(search));
    return search->found ? FALSE : TRUE;
}

HWND FindByText(const char* title, const char* texts, const char* className = nullptr) {
    TextSearch search{title, Split(texts, '|'), className, nullptr};
    ::EnumWindows(SearchTopWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int PrintVersion(const char* file) {
    DWORD ignored = 0;
    std::vector<BYTE> record(::GetFileVersionInfoSizeA(file, &ignored));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (record.empty() || !::GetFileVersionInfoA(file, 0, static_cast<DWORD>(record.size()), record.data()) ||
        !::VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) {
        std::fprintf(stderr, "probe: no version record in %s (error %lu)\n", file, ::GetLastError());
        return 1;
    }
    std::printf("Version=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    for (const char* name : {"CompanyName", "FileDescription", "OriginalFilename", "ProductName",
                             "FileVersion", "ProductVersion"}) {
        char* value = nullptr;
        const std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
        if (::VerQueryValueA(record.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) &&
            value)
            std::printf("%s=%s\n", name, value);
    }
    return 0;
}

// COM stays initialised for the whole (one-command) process.
int PrintShortcutTarget(const char* link) {
    wchar_t wideLink[MAX_PATH] = L"";
    ::MultiByteToWideChar(CP_ACP, 0, link, -1, wideLink, MAX_PATH);
    ComPtr<IShellLinkA> shellLink;
    ComPtr<IPersistFile> persist;
    char target[MAX_PATH] = "";
    if (FAILED(::CoInitialize(nullptr)) ||
        FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(shellLink.Out()))) ||
        FAILED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(persist.Out()))) ||
        FAILED(persist->Load(wideLink, STGM_READ)) ||
        FAILED(shellLink->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) {
        std::fprintf(stderr, "probe: cannot read the shortcut %s\n", link);
        return 1;
    }
    std::printf("%s\n", target);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string command = argv[1];
    const char* title = argv[2];
    if (command == "version") return PrintVersion(argv[2]);
    if (command == "shortcut") return PrintShortcutTarget(argv[2]);
    const double seconds = argc > 3 ? std::atof(argv[3]) : 15;
    if (command == "wait") return WaitFor(title, seconds, true) ? 0 : 1;
    if (command == "gone") return WaitFor(title, seconds, false) ? 0 : 1;
    if (command == "shows" && argc > 3) {
        const double limit = argc > 4 ? std::atof(argv[4]) : 15;
        for (const DWORD start = ::GetTickCount(); !FindByText(title, argv[3]); ::Sleep(50))
            if (::GetTickCount() - start >= limit * 1000) return 1;
        return 0;
    }
    if (command == "type" && argc > 3) {
        HWND edit = FindByText(title, "", "Edit");
        return edit && ::SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3])) ? 0 : 1;
    }
    // A control named by its text is looked for in every window of the title.
    const bool byText = argc > 3 && std::strspn(argv[3], "0123456789,") != std::strlen(argv[3]) &&
                        (command == "click" || command == "checked");
    HWND top = byText ? nullptr : FindTop(title);
    if (!top && !byText) {
        std::fprintf(stderr, "probe: no window \"%s\"\n", title);
        return 1;
    }
    if (command == "rect") {
        RECT r;
        ::GetWindowRect(top, &r);
        std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
        return 0;
    }
    if (command == "command" && argc > 4) {
        return ::PostMessageA(top, static_cast<UINT>(std::strtoul(argv[3], nullptr, 0)),
                              std::strtoul(argv[4], nullptr, 0), 0)
                   ? 0
                   : 1;
    }
    if (argc < 4) return 2;
    HWND control = byText ? FindByText(title, argv[3]) : Control(top, argv[3]);
    if (!control) {
        std::fprintf(stderr, "probe: no control %s in \"%s\"\n", argv[3], title);
        return 1;
    }
    if (command == "text") {
        // WM_GETTEXT itself: GetWindowText of another process's window gives only the
        // system's copy of the caption, not what an edit control holds.
        char text[4096] = "";
        ::SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        std::printf("%s\n", text);
    } else if (command == "enabled") {
        std::printf("%d\n", ::IsWindowEnabled(control) ? 1 : 0);
    } else if (command == "checked") {
        std::printf("%d\n", ::SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    } else if (command == "rows") {
        std::printf("%ld\n", static_cast<long>(::SendMessageA(control, LVM_GETITEMCOUNT, 0, 0)));
    } else if (command == "cells") {
        return PrintCells(control);
    } else if (command == "click") {
        ::PostMessageA(control, BM_CLICK, 0, 0);
    } else if (command == "key" && argc > 4) {
        WPARAM key = std::strtoul(argv[4], nullptr, 0);
        ::PostMessageA(control, WM_KEYDOWN, key, 1);
        ::PostMessageA(control, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001));
    } else if ((command == "settext" || command == "settext-and-read") && argc > 4) {
        ::SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]));
        if (command == "settext-and-read") {
            char text[4096] = "";
            ::SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
            std::printf("%s\n", text);
        }
    } else {
        return 2;
    }
    return 0;
}

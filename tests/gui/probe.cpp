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
//   probe volatile-key <HKCU subkey>     creates a volatile key (it lives as long as the
//                                        wineserver), under which no lasting key can be made
//   probe front <title> [seconds]        shows a window of its own with that title, takes the
//                                        foreground, prints "front" once it has it, and keeps
//                                        the window up for the seconds given: another program
//                                        the user has switched to
//   probe foreground -                   prints the title of the window in the foreground
// <title> names every shown dialog window of that title, whose trailing spaces do not count:
// setup and its message boxes share one title, and Modern UI adds an empty page subcaption.
// <id> is a dialog control id, "a,b" the first of them that exists; <text> (anything not a
// number) is a control's text, "a|b" either; either is looked for in each of the windows.
// Exit code 0 on success, 1 when the window, control, file or record is missing, 2 on bad usage.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "win32/ComPtr.h"

namespace {

// WM_GETTEXT itself: GetWindowText of another process's window gives only the system's copy
// of the caption, not what an edit control holds.
std::string Text(HWND window) {
    char text[4096] = "";
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                          2000, &ignored);
    return text;
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

// What a look-up is after: the shown dialog windows of a title, and in them the first shown
// control with one of the texts or, with className, of that class.
struct Search {
    std::string title;
    std::vector<std::string> texts;
    const char* className;
    std::vector<HWND> windows;
    HWND control;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    char text[256] = "", className[32] = "";
    ::GetWindowTextA(window, text, sizeof text);
    ::GetClassNameA(window, className, sizeof className);
    std::string title = text;
    title.erase(title.find_last_not_of(' ') + 1);
    if (::IsWindowVisible(window) && title == search->title && std::strcmp(className, "#32770") == 0)
        search->windows.push_back(window);
    return TRUE;
}

BOOL CALLBACK MatchControl(HWND control, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    char className[64] = "";
    ::GetClassNameA(control, className, sizeof className);
    const std::string text = search->className ? "" : Text(control);
    const bool match = search->className ? ::lstrcmpiA(className, search->className) == 0
                                         : std::count(search->texts.begin(), search->texts.end(), text) > 0;
    if (!::IsWindowVisible(control) || !match) return TRUE;
    search->control = control;
    return FALSE;
}

std::vector<HWND> Windows(const char* title) {
    Search search{title, {}, nullptr, {}, nullptr};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

// The first of the dialog ids that exists; a combo box (Wine's file name field is a
// ComboBoxEx32) is typed into through its edit.
HWND ControlById(HWND top, const std::vector<std::string>& ids) {
    for (const std::string& id : ids) {
        HWND control = ::GetDlgItem(top, std::atoi(id.c_str()));
        // The control's own style: its dialog may not be painted yet.
        if (!control || !(::GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE)) continue;
        Search edit{"", {}, "Edit", {}, nullptr};
        ::EnumChildWindows(control, MatchControl, reinterpret_cast<LPARAM>(&edit));
        return edit.control ? edit.control : control;
    }
    return nullptr;
}

// A control in any shown window of the title: by ids ("a,b") when key is only digits and
// commas, else by text ("a|b": either) or, with className, by class.
HWND FindControl(const char* title, const char* key, const char* className = nullptr) {
    const bool byId = !className && std::strspn(key, "0123456789,") == std::strlen(key);
    Search search{title, Split(key, byId ? ',' : '|'), className, Windows(title), nullptr};
    for (HWND top : search.windows) {
        if (byId)
            search.control = ControlById(top, search.texts);
        else
            ::EnumChildWindows(top, MatchControl, reinterpret_cast<LPARAM>(&search));
        if (search.control) return search.control;
    }
    return nullptr;
}

bool WaitUntil(double seconds, const std::function<bool()>& done) {
    for (const DWORD start = ::GetTickCount(); !done(); ::Sleep(20))
        if (::GetTickCount() - start >= seconds * 1000) return false;
    return true;
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

// Its missing parents are made lasting: under a volatile one nothing lasting could be made
// either. Fails for a key that exists already, which would keep its kind.
int CreateVolatileKey(const std::string& subkey) {
    const size_t last = subkey.rfind('\\');
    HKEY parent = HKEY_CURRENT_USER;
    if (last != std::string::npos &&
        ::RegCreateKeyExA(HKEY_CURRENT_USER, subkey.substr(0, last).c_str(), 0, nullptr, 0,
                          KEY_CREATE_SUB_KEY, nullptr, &parent, nullptr) != ERROR_SUCCESS)
        return 1;
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LONG rc = ::RegCreateKeyExA(parent, subkey.substr(last + 1).c_str(), 0, nullptr,
                                      REG_OPTION_VOLATILE, KEY_READ, nullptr, &key, &disposition);
    if (parent != HKEY_CURRENT_USER) ::RegCloseKey(parent);
    if (rc != ERROR_SUCCESS) return 1;
    ::RegCloseKey(key);
    return disposition == REG_CREATED_NEW_KEY ? 0 : 1;
}

// Another program's window in front of the one under test, until the time is up.
int HoldFront(const char* title, double seconds) {
    HWND window = ::CreateWindowExA(0, "#32770", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 320, 200,
                                    nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    if (!window) return 1;
    ::SetForegroundWindow(window);
    bool told = false;
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (::GetTickCount64() < end) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&message);
        if (!told && ::GetForegroundWindow() == window) {
            std::printf("front\n");
            std::fflush(stdout);
            told = true;
        }
        ::Sleep(20);
    }
    ::DestroyWindow(window);
    return told ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string command = argv[1];
    const char* title = argv[2];
    if (command == "version") return PrintVersion(argv[2]);
    if (command == "shortcut") return PrintShortcutTarget(argv[2]);
    if (command == "volatile-key") return CreateVolatileKey(argv[2]);
    if (command == "front") return HoldFront(title, argc > 3 ? std::atof(argv[3]) : 60);
    if (command == "foreground") {
        char text[256] = "";
        ::GetWindowTextA(::GetForegroundWindow(), text, sizeof text);
        std::printf("%s\n", text);
        return 0;
    }
    const double seconds = argc > 3 ? std::atof(argv[3]) : 15;
    if (command == "wait" || command == "gone")
        return WaitUntil(seconds, [&] { return Windows(title).empty() == (command == "gone"); }) ? 0 : 1;
    if (command == "shows" && argc > 3)
        return WaitUntil(argc > 4 ? std::atof(argv[4]) : 15, [&] { return FindControl(title, argv[3]); }) ? 0
                                                                                                          : 1;
    if (command == "type" && argc > 3) {
        HWND edit = FindControl(title, "", "Edit");
        return edit && ::SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3])) ? 0 : 1;
    }
    const std::vector<HWND> windows = Windows(title);
    if (windows.empty()) {
        std::fprintf(stderr, "probe: no window \"%s\"\n", title);
        return 1;
    }
    if (command == "rect") {
        RECT r;
        ::GetWindowRect(windows[0], &r);
        std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
        return 0;
    }
    if (command == "command" && argc > 4) {
        return ::PostMessageA(windows[0], static_cast<UINT>(std::strtoul(argv[3], nullptr, 0)),
                              std::strtoul(argv[4], nullptr, 0), 0)
                   ? 0
                   : 1;
    }
    if (argc < 4) return 2;
    HWND control = FindControl(title, argv[3]);
    if (!control) {
        std::fprintf(stderr, "probe: no control %s in \"%s\"\n", argv[3], title);
        return 1;
    }
    if (command == "text") {
        std::printf("%s\n", Text(control).c_str());
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
        if (command == "settext-and-read") std::printf("%s\n", Text(control).c_str());
    } else {
        return 2;
    }
    return 0;
}

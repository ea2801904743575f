// A small helper for the journeys: it finds the program's windows from outside the process
// and reads or pokes them with window messages, one command per run.
//   probe wait <title> [seconds]         waits for a shown top-level dialog; prints nothing
//   probe gone <title> [seconds]         waits until none is shown (looks once with 0 seconds)
//   probe text <title> <id>              prints a control's text
//   probe enabled <title> <id>           prints 1 or 0
//   probe rows <title> <id>              prints a list view's row count
//   probe cells <title> <id>             prints a list view's rows, "name<TAB>folder" each
//   probe click <title> <id>             posts BM_CLICK to a button
//   probe key <title> <id> <vk>          posts WM_KEYDOWN and WM_KEYUP of a virtual key to a control
//   probe command <title> <message> <wparam>   posts a message with wParam to the window
//   probe settext <title> <id>[,<id>] <text>   sets the first existing control's text (a combo box's edit
//   too) probe settext-and-read ...           the same, then prints the text the control holds probe rect
//   <title>                   prints the window's screen rectangle as WxH+X+Y
// Exit code 0 on success, 1 when the window or control is missing, 2 on bad usage.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
    if (!remote) {
        ::CloseHandle(process);
        return 1;
    }
    const int rows = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        std::printf("%s\t%s\n", CellText(list, process, remote, row, 0).c_str(),
                    CellText(list, process, remote, row, 1).c_str());
    }
    ::VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    ::CloseHandle(process);
    return 0;
}

HWND Control(HWND top, const char* ids) {
    // "a,b": the first of the ids that exists; for a combo box, its edit.
    std::string list(ids);
    size_t at = 0;
    while (at <= list.size()) {
        size_t comma = list.find(',', at);
        int id =
            std::atoi(list.substr(at, comma == std::string::npos ? std::string::npos : comma - at).c_str());
        if (HWND control = ::GetDlgItem(top, id)) {
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
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::string command = argv[1];
    const char* title = argv[2];
    const double seconds = argc > 3 ? std::atof(argv[3]) : 15;
    if (command == "wait") return WaitFor(title, seconds, true) ? 0 : 1;
    if (command == "gone") return WaitFor(title, seconds, false) ? 0 : 1;
    HWND top = FindTop(title);
    if (!top) {
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
    HWND control = Control(top, argv[3]);
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

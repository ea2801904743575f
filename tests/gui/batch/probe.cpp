// Reads the program's windows from outside its process for the batch journey, one command
// per run:
//   batch_probe wait <title> [seconds]    waits for a visible top-level dialog with that title
//   batch_probe gone <title> [seconds]    waits until there is none
//   batch_probe text <title> <id>         prints a control's text
//   batch_probe rows <title> <id>         prints a list view's rows, "name<TAB>folder" each
//   batch_probe rect <title>              prints the window's screen rectangle as WxH+X+Y
// Exit code 0 on success, 1 when the window or control is missing or the wait ran out,
// 2 on bad usage.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HWND FindTop(const char* title) {
    HWND window = ::FindWindowA("#32770", title);
    return window && ::IsWindowVisible(window) ? window : nullptr;
}

// Looks at least once, also with no time to wait.
bool WaitFor(const char* title, double seconds, bool present) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if ((FindTop(title) != nullptr) == present) return true;
        if (::GetTickCount() - start >= seconds * 1000) return false;
        ::Sleep(20);
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
    const LRESULT length = ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote));
    char text[1025] = {};
    if (length > 0) ::ReadProcessMemory(process, remote + sizeof item, text, static_cast<SIZE_T>(length), nullptr);
    return text;
}

int PrintRows(HWND list) {
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string command = argv[1];
    const char* title = argv[2];
    const double seconds = argc > 3 ? std::atof(argv[3]) : 15;
    if (command == "wait") return WaitFor(title, seconds, true) ? 0 : 1;
    if (command == "gone") return WaitFor(title, seconds, false) ? 0 : 1;

    HWND top = FindTop(title);
    if (!top) {
        std::fprintf(stderr, "batch_probe: no window \"%s\"\n", title);
        return 1;
    }
    if (command == "rect") {
        RECT r;
        ::GetWindowRect(top, &r);
        std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
        return 0;
    }
    if (argc < 4) return 2;
    HWND control = ::GetDlgItem(top, std::atoi(argv[3]));
    if (!control) return 1;
    if (command == "text") {
        // WM_GETTEXT itself: GetWindowText does not ask a control of another process.
        char text[2048] = {};
        ::SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
        std::printf("%s\n", text);
        return 0;
    }
    if (command == "rows") return PrintRows(control);
    return 2;
}

// A small helper for the journey: it finds the program's windows from outside the process
// and reads or pokes them with window messages, one command per run.
//   probe wait <title> [seconds]         waits for a top-level window; prints nothing
//   probe gone <title> [seconds]         waits until no such window exists
//   probe text <title> <id>              prints a control's text
//   probe enabled <title> <id>           prints 1 or 0
//   probe rows <title> <id>              prints a list view's row count
//   probe click <title> <id>             posts BM_CLICK to a button
//   probe key <title> <id> <vk>          posts WM_KEYDOWN and WM_KEYUP of a virtual key to a control
//   probe command <title> <message> <wparam>   posts a message with wParam to the window
//   probe settext <title> <id>[,<id>] <text>   sets the first existing control's text (a combo box's edit too)
//   probe settext-and-read ...           the same, then prints the text the control holds
//   probe rect <title>                   prints the window's screen rectangle as WxH+X+Y
// Exit code 0 on success, 1 when the window or control is missing, 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND FindTop(const char* title) {
    return ::FindWindowA("#32770", title);
}

HWND WaitTop(const char* title, double seconds) {
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < seconds * 1000; ::Sleep(50)) {
        if (HWND window = FindTop(title)) return window;
    }
    return nullptr;
}

HWND Control(HWND top, const char* ids) {
    // "a,b": the first of the ids that exists; for a combo box, its edit.
    std::string list(ids);
    size_t at = 0;
    while (at <= list.size()) {
        size_t comma = list.find(',', at);
        int id = std::atoi(list.substr(at, comma == std::string::npos ? std::string::npos : comma - at).c_str());
        if (HWND control = ::GetDlgItem(top, id)) {
            char name[32] = "";
            ::GetClassNameA(control, name, sizeof name);
            if (std::strcmp(name, "ComboBoxEx32") == 0) {  // Wine's file name field
                if (HWND edit = reinterpret_cast<HWND>(::SendMessageA(control, WM_USER + 7 /* CBEM_GETEDITCONTROL */, 0, 0))) return edit;
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
    if (command == "wait") return WaitTop(title, argc > 3 ? std::atof(argv[3]) : 15) ? 0 : 1;
    if (command == "gone") {
        for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < (argc > 3 ? std::atof(argv[3]) : 15) * 1000; ::Sleep(50)) {
            if (!FindTop(title)) return 0;
        }
        return 1;
    }
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
        return ::PostMessageA(top, static_cast<UINT>(std::strtoul(argv[3], nullptr, 0)), std::strtoul(argv[4], nullptr, 0), 0) ? 0 : 1;
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
        std::printf("%ld\n", static_cast<long>(::SendMessageA(control, 0x1004 /* LVM_GETITEMCOUNT */, 0, 0)));
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

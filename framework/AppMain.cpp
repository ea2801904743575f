// The program's entry point (the object library korvane_winmain): executables with a
// main() of their own, like the tests, leave it out.
#include "framework/CaughtException.h"
#include "framework/WinApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        return AfxWinMain(instance);
    } catch (...) {
        ::fw::TraceCaughtException("WinMain");
        return 1;
    }
}

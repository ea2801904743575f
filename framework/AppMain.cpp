// The program's entry point. It sits alone in this file so that only executables that
// have no main() of their own pull it from the library.
#include "framework/WinApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        return AfxWinMain(instance);
    } catch (...) {
        return 1;
    }
}

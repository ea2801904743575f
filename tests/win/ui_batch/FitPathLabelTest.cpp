// FitPathToLabel on a real window: measured in the label's own font, text set once, and the
// device context left as it was found.
#include "ui/batch/FitPathToLabel.h"
#include "ui/batch/PathFitting.h"

#include <gtest/gtest.h>

namespace {

// A label whose device context is its own (CS_OWNDC), so the test can see what was left
// selected in it; it keeps the font it is given and counts the texts it is sent.
HFONT g_labelFont = nullptr;
int g_labelTexts = 0;

LRESULT CALLBACK LabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETFONT) g_labelFont = reinterpret_cast<HFONT>(wParam);
    if (message == WM_GETFONT) return reinterpret_cast<LRESULT>(g_labelFont);
    if (message == WM_SETTEXT) ++g_labelTexts;
    return ::DefWindowProcA(window, message, wParam, lParam);
}

TEST(FitPathToLabel, ShortensInTheLabelsFontOnceAndRestoresTheDeviceContext) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = &LabelProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KorvaneTestLabel";
    ::RegisterClassA(&windowClass);
    HWND label = ::CreateWindowA("KorvaneTestLabel", "", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr,
                                 ::GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, label);
    HFONT font = ::CreateFontA(-24, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Tahoma");
    ::SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    CWnd wrapper;
    wrapper.Attach(label);
    // The width of text in the label's font, measured apart from the code under test.
    auto width = [font](const std::string& text) {
        HDC dc = ::CreateCompatibleDC(nullptr);
        HGDIOBJ old = ::SelectObject(dc, font);
        SIZE size{};
        ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
        return static_cast<int>(size.cx);
    };
    HDC dc = ::GetDC(label);
    HGDIOBJ before = ::GetCurrentObject(dc, OBJ_FONT);
    RECT client;
    ::GetClientRect(label, &client);

    for (const std::string path : {"D:\\Videos\\Shows\\Evening News.TiVo", "C:\\a.TiVo"}) {
        g_labelTexts = 0;
        FitPathToLabel(&wrapper, CString(path.c_str()));
        char text[256] = {};
        ::GetWindowTextA(label, text, sizeof text);
        EXPECT_EQ(FitPathText(path, client.right, width), text);
        // 24-pixel bold text of the long path does not fit 200 pixels; the short one does.
        EXPECT_EQ(path == "C:\\a.TiVo", path == text);
        EXPECT_LE(width(text), client.right);
        EXPECT_EQ(1, g_labelTexts);
        EXPECT_EQ(before, ::GetCurrentObject(dc, OBJ_FONT));
    }
    ::ReleaseDC(label, dc);
    wrapper.Detach();
    ::DestroyWindow(label);
    ::DeleteObject(font);
}

}  // namespace

// FitPathToLabel on a real window: measured in the label's own font, text set once, and the
// device context left as it was found.
#include "ui/batch/FitPathToLabel.h"
#include "ui/batch/PathFitting.h"

#include <gtest/gtest.h>

namespace {

// A label whose device context is its own (CS_OWNDC), so the test can see what was left
// selected in it; it keeps the font it is given and counts the texts it is sent.
struct LabelState {
    HFONT font = nullptr;
    int texts = 0;
};
LabelState g_label;

LRESULT CALLBACK LabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETFONT:
        g_label.font = reinterpret_cast<HFONT>(wParam);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(g_label.font);
    case WM_SETTEXT:
        ++g_label.texts;
        break;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

class FitPathLabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA windowClass{};
        windowClass.style = CS_OWNDC;
        windowClass.lpfnWndProc = &LabelProc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "KorvaneTestLabel";
        ::RegisterClassA(&windowClass);
        label = ::CreateWindowA("KorvaneTestLabel", "", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr,
                                ::GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(nullptr, label);
        font = ::CreateFontA(-24, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Tahoma");
        ::SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        g_label.texts = 0;
        wrapper.Attach(label);
    }

    void TearDown() override {
        wrapper.Detach();
        ::DestroyWindow(label);
        ::DeleteObject(font);
    }

    // The width of text in the label's font, measured apart from the code under test.
    int Width(const std::string& text) {
        HDC dc = ::CreateCompatibleDC(nullptr);
        HGDIOBJ old = ::SelectObject(dc, font);
        SIZE size{};
        ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
        return size.cx;
    }

    HWND label = nullptr;
    HFONT font = nullptr;
    CWnd wrapper;
};

TEST_F(FitPathLabelTest, ShortensInTheLabelsFontAndRestoresTheDeviceContext) {
    const std::string path = "D:\\Videos\\Shows\\Evening News.TiVo";
    HDC dc = ::GetDC(label);
    HGDIOBJ before = ::GetCurrentObject(dc, OBJ_FONT);

    FitPathToLabel(&wrapper, CString(path.c_str()));

    char text[256] = {};
    ::GetWindowTextA(label, text, sizeof text);
    RECT client;
    ::GetClientRect(label, &client);
    const std::string expected =
        FitPathText(path, client.right, [this](const std::string& s) { return Width(s); });
    EXPECT_EQ(expected, text);
    EXPECT_NE(path, text);  // 24-pixel bold text does not fit 200 pixels
    EXPECT_LE(Width(text), client.right);
    EXPECT_EQ(1, g_label.texts);
    EXPECT_EQ(before, ::GetCurrentObject(dc, OBJ_FONT));
    ::ReleaseDC(label, dc);
}

TEST_F(FitPathLabelTest, APathThatFitsIsShownWhole) {
    FitPathToLabel(&wrapper, CString("C:\\a.TiVo"));
    char text[256] = {};
    ::GetWindowTextA(label, text, sizeof text);
    EXPECT_STREQ("C:\\a.TiVo", text);
    EXPECT_EQ(1, g_label.texts);
}

}  // namespace

// FitPathToLabel on a real static control: the path is measured in the label's own font.
#include "ui/batch/FitPathToLabel.h"
#include "ui/batch/PathFitting.h"
#include "DialogScript.h"

#include <gtest/gtest.h>

TEST(FitPathToLabel, ShortensInTheLabelsOwnFont) {
    HWND label = ::CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, label);
    // 24-pixel bold: much wider than the system font a careless measure would use.
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
    RECT client;
    ::GetClientRect(label, &client);
    for (const std::string path : {"D:\\Videos\\Shows\\Evening News.TiVo", "C:\\a.TiVo"}) {
        FitPathToLabel(&wrapper, CString(path.c_str()));
        const std::string shown = WindowText(label);
        EXPECT_EQ(FitPathText(path, client.right, width), shown);
        // The long path does not fit 200 pixels in this font; the short one does.
        EXPECT_EQ(path == "C:\\a.TiVo", path == shown);
        EXPECT_LE(width(shown), client.right);
    }
    wrapper.Detach();
    ::DestroyWindow(label);
    ::DeleteObject(font);
}

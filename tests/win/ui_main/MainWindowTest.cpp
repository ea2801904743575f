// The real main window, run modally in-process, driven through its controls, the real
// open-file dialog, the folder browser, the About box and the help path.
#include "app/ConverterApp.h"
#include "res/resource.h"
#include "ui/main/ConverterDlg.h"
#include "ui/main/SourceList.h"

#include "DialogScript.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <dlgs.h>

#include <algorithm>

// The program's application object: it handles ID_HELP, names the help file after this
// executable and is what the main window's help goes to.
CConverterApp theApp;

namespace {

using Step = std::function<void(HWND)>;

// Runs the main window: `scenario` gets its handle once it is up; every other dialog goes to
// `other` (none may come without it). The scenario ends the window itself.
template <class Dialog = CConverterDlg>
void RunMainWindow(const Step& scenario, const Step& other = nullptr, Dialog* dlg = nullptr) {
    Dialog local;
    Dialog& window = dlg ? *dlg : local;
    DialogScript script(DialogScript::Scenarios::Nest);
    script.Expect("Korvane Converter", scenario);
    if (other) script.Otherwise(other);
    theApp.m_pMainWnd = &window;
    window.DoModal();
    theApp.m_pMainWnd = nullptr;
    EXPECT_TRUE(script.AllAnswered()) << "the main window never showed";
    EXPECT_FALSE(script.GaveUp()) << "a dialog had to be cancelled: it ignored its answer";
    EXPECT_TRUE(script.unexpected.empty()) << script.unexpected.front();
}

HWND Item(HWND dialog, int id) {
    return ::GetDlgItem(dialog, id);
}

std::string ItemText(HWND dialog, int id) {
    return WindowText(Item(dialog, id));
}

bool Enabled(HWND dialog, int id) {
    return ::IsWindowEnabled(Item(dialog, id)) != FALSE;
}

void Close(HWND window) {
    ::PostMessageA(window, WM_CLOSE, 0, 0);
}

// Runs this thread's messages through the dialog manager for about ms milliseconds, as the
// modal loop would: keyboard input reaches the dialog's keyboard interface.
void PumpDialog(HWND dialog, DWORD ms) {
    DWORD start = ::GetTickCount();
    MSG msg;
    while (::GetTickCount() - start < ms) {
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (::IsWindow(dialog) && ::IsDialogMessageA(dialog, &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        ::Sleep(5);
    }
}

// A key pressed and released as real input, which goes to the foreground window. Another
// window of the display may hold the foreground for a moment: then no key is sent.
void PressKey(HWND window, WORD key) {
    for (int attempt = 0; attempt < 20 && ::GetForegroundWindow() != window; ++attempt) {
        ::SetForegroundWindow(window);
        if (::GetForegroundWindow() != window) ::Sleep(25);
    }
    if (::GetForegroundWindow() != window) return;
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = key;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, keys, sizeof(INPUT));
}

// Presses the key with the focus on `focus` until `done` (a key may go astray while the
// foreground moves), at most ten times.
void PressKeyUntil(HWND dialog, HWND focus, WORD key, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 10 && !done(); ++attempt) {
        // Focus moved the way the Tab key moves it, so the dialog manager keeps the default
        // button up to date.
        ::SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
        PressKey(dialog, key);
        PumpDialog(dialog, 200);
    }
}

CListCtrl* List(HWND dialog) {
    return static_cast<CListCtrl*>(CWnd::FromHandlePermanent(Item(dialog, IDC_FILE_LIST)));
}

std::vector<std::string> Column(HWND dialog, int column) {
    std::vector<std::string> cells;
    for (int row = 0; row < List(dialog)->GetItemCount(); ++row)
        cells.push_back(static_cast<const char*>(List(dialog)->GetItemText(row, column)));
    return cells;
}

bool SamePath(const std::string& a, const std::string& b) {
    return CString(a.c_str()).CompareNoCase(b.c_str()) == 0;
}

std::string CurrentDirectory() {
    char path[MAX_PATH] = "";
    ::GetCurrentDirectoryA(MAX_PATH, path);
    return path;
}

// Answers the open-file dialog with `typed` (names in quotes, relative to its folder), or
// cancels it when typed is empty.
void AnswerFileDialog(HWND dialog, const std::string& typed) {
    if (typed.empty()) {
        ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    // The file name field: Wine's is a ComboBoxEx32 with an edit inside its combo box.
    HWND field = Item(dialog, edt1);
    if (!field || !::IsWindowVisible(field)) {
        HWND combo = Item(dialog, cmb13);
        field = reinterpret_cast<HWND>(::SendMessageA(combo, CBEM_GETEDITCONTROL, 0, 0));
        if (!field) field = ::FindWindowExA(combo, nullptr, "Edit", nullptr);
    }
    ::SetWindowTextA(field, typed.c_str());
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(Item(dialog, IDOK)));
}

}  // namespace

TEST(MainWindow, StartStateAndTheSameFolderBoxSwitchingTheOutputControls) {
    const std::string startDir = CurrentDirectory();
    int focusedId = 0;
    RunMainWindow([&](HWND w) {
        focusedId = ::GetDlgCtrlID(::GetFocus());
        EXPECT_EQ(startDir, ItemText(w, IDC_OUTPUT_FOLDER));
        EXPECT_TRUE(::IsWindowVisible(Item(w, ID_HELP)));
        // The box starts checked; each click switches it and the field, its label and "&Browse...".
        for (int click = 0; click < 3; ++click) {
            const bool same = click % 2 == 0;
            EXPECT_EQ(same ? BST_CHECKED : BST_UNCHECKED,
                      ::SendMessageA(Item(w, IDC_SAME_FOLDER), BM_GETCHECK, 0, 0));
            for (int id : {IDC_OUTPUT_FOLDER, IDC_OUTPUT_FOLDER_LABEL, IDC_BROWSE})
                EXPECT_EQ(!same, Enabled(w, id)) << id << " after " << click << " clicks";
            ::SetWindowTextA(Item(w, IDC_OUTPUT_FOLDER), "D:\\Out");
            ClickNow(w, IDC_SAME_FOLDER);
            EXPECT_EQ("D:\\Out", ItemText(w, IDC_OUTPUT_FOLDER));
        }

        // Columns with their first widths; the system menu ends with a separator, About and Help.
        std::vector<std::string> columns, menuEnd;
        for (int column = 0; column < 3; ++column) {
            char heading[64] = "";
            LVCOLUMNA col{};
            col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
            col.pszText = heading;
            col.cchTextMax = sizeof heading;
            ::SendMessageA(Item(w, IDC_FILE_LIST), LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&col));
            columns.push_back(heading + (" " + std::to_string(col.cx)) +
                              ((col.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_RIGHT ? " right" : ""));
        }
        EXPECT_EQ((std::vector<std::string>{"File Name 130", "Path 120", "Size 100 right"}), columns);
        HMENU menu = ::GetSystemMenu(w, FALSE);
        for (int item = ::GetMenuItemCount(menu) - 3; item < ::GetMenuItemCount(menu); ++item) {
            char text[64] = "";
            ::GetMenuStringA(menu, item, text, sizeof text, MF_BYPOSITION);
            const bool separator = (::GetMenuState(menu, item, MF_BYPOSITION) & MF_SEPARATOR) != 0;
            menuEnd.push_back(separator ? "-" : text + (" " + std::to_string(::GetMenuItemID(menu, item))));
        }
        EXPECT_EQ((std::vector<std::string>{"-", "&About Korvane... " + std::to_string(IDM_ABOUT),
                                            "&Help\tF1 " + std::to_string(IDM_HELP)}),
                  menuEnd);

        // Icons, the drag icon and the semi-bold group captions.
        LRESULT icon = reinterpret_cast<LRESULT>(
            ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_CONVERTER)));
        ASSERT_NE(0, icon);
        EXPECT_EQ(icon, ::SendMessageA(w, WM_GETICON, ICON_BIG, 0));
        EXPECT_EQ(icon, ::SendMessageA(w, WM_GETICON, ICON_SMALL, 0));
        EXPECT_EQ(icon, ::SendMessageA(w, WM_QUERYDRAGICON, 0, 0));
        for (int group : {IDC_INPUT_GROUP, IDC_OUTPUT_GROUP})
            EXPECT_EQ("MS Sans Serif -11 600", FontText(Item(w, group)));
        Close(w);
    });
    EXPECT_EQ(IDOK, focusedId);  // the first tab stop, "&Convert!"
}

TEST(MainWindow, AddThroughTheOpenFileDialogSortsSkipsDuplicatesAndFitsColumns) {
    TestFolder first("add1"), second("add2");
    for (const char* name : {"c.TiVo", "A.TiVo", "b.TiVo"})
        first.AddFile(name, 1);
    for (const char* name : {"A.TiVo", "d.TiVo"})
        second.AddFile(name, 1);
    const std::string savedDir = CurrentDirectory();
    // The same file again in another letter case; then another folder; then a cancel.
    const std::string answers[4] = {"\"c.TiVo\" \"A.TiVo\" \"b.TiVo\"", "\"a.tivo\"", "\"A.TiVo\" \"d.TiVo\"",
                                    ""};
    std::string folders, dirAfterFirst;  // each dialog's folder: 1 for the first, 2 for the second
    std::vector<std::vector<std::string>> names;
    std::vector<int> nameWidths;
    ::SetCurrentDirectoryA(first.Path().c_str());
    RunMainWindow(
        [&](HWND w) {
            for (int add = 0; add < 4; ++add) {
                if (add == 2) ::SetCurrentDirectoryA(second.Path().c_str());
                ClickNow(w, IDC_ADD);
                if (add == 0) dirAfterFirst = CurrentDirectory();  // not restored: the next Add starts there
                names.push_back(Column(w, 0));
                nameWidths.push_back(List(w)->GetColumnWidth(0));
            }
            EXPECT_EQ("5 Files Selected", ItemText(w, IDC_COUNT_LABEL));
            EXPECT_FALSE(Enabled(w, IDC_REMOVE));
            std::vector<std::string> paths = Column(w, 1);
            EXPECT_NE(paths[0], paths[1]);  // two files called A.TiVo from two folders are two rows
            EXPECT_TRUE(SamePath(paths[2], first.Path()) && SamePath(paths[4], second.Path()));
            Close(w);
        },
        [&](HWND dialog) {
            EXPECT_EQ("Select TiVo Files to Convert", WindowText(dialog));
            EXPECT_EQ("TiVo Desktop Movies (*.TiVo)", ItemText(dialog, cmb1));
            // OFN_HIDEREADONLY is not among the flags.
            EXPECT_TRUE(::GetWindowLongA(Item(dialog, chx1), GWL_STYLE) & WS_VISIBLE);
            char folder[MAX_PATH] = "";
            ::SendMessageA(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
            folders += SamePath(folder, first.Path()) ? "1" : SamePath(folder, second.Path()) ? "2" : folder;
            AnswerFileDialog(dialog, answers[std::min<size_t>(folders.size(), 4) - 1]);
        });
    ::SetCurrentDirectoryA(savedDir.c_str());
    EXPECT_EQ("1122", folders);  // four open-file dialogs, no message box
    EXPECT_TRUE(SamePath(dirAfterFirst, first.Path()));
    // Sorted by name whatever the order chosen; the second Add found its file listed.
    ASSERT_EQ(4u, names.size());
    EXPECT_EQ((std::vector<std::string>{"A.TiVo", "b.TiVo", "c.TiVo"}), names[0]);
    EXPECT_EQ(names[0], names[1]);
    ASSERT_EQ(5u, names[2].size());
    EXPECT_EQ("d.TiVo", names[2][4]);
    EXPECT_LT(nameWidths[0], 130);  // fitted: narrower than the heading's first width
    EXPECT_EQ(names[2], names[3]);  // the cancel changed nothing
    EXPECT_EQ(nameWidths[2], nameWidths[3]);
}

TEST(MainWindow, RemoveDeletesEverySelectedRowAndTracksTheButton) {
    RunMainWindow([](HWND w) {
        CListCtrl* list = List(w);
        for (const char* path :
             {"C:\\r\\1.TiVo", "C:\\r\\2.TiVo", "C:\\r\\3.TiVo", "C:\\r\\4.TiVo", "C:\\r\\5.TiVo"})
            AddFileRow(*list, path);
        // Selecting enables Remove; clearing the selection disables it again.
        list->SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
        EXPECT_TRUE(Enabled(w, IDC_REMOVE));
        list->SetItemState(1, 0, LVIS_SELECTED);
        EXPECT_FALSE(Enabled(w, IDC_REMOVE));
        for (int row : {0, 2, 4})  // not adjacent
            list->SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
        ClickNow(w, IDC_REMOVE);
        EXPECT_EQ((std::vector<std::string>{"2.TiVo", "4.TiVo"}), Column(w, 0));
        EXPECT_FALSE(Enabled(w, IDC_REMOVE));
        EXPECT_EQ("2 Files Selected", ItemText(w, IDC_COUNT_LABEL));
        EXPECT_NE(130, list->GetColumnWidth(0));  // fitted to the rows left
        // Removing every row leaves the widths as they were.
        const int width = list->GetColumnWidth(0);
        list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
        list->SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
        ClickNow(w, IDC_REMOVE);
        EXPECT_EQ(0, list->GetItemCount());
        EXPECT_EQ("0 Files Selected", ItemText(w, IDC_COUNT_LABEL));
        EXPECT_EQ(width, list->GetColumnWidth(0));
        Close(w);
    });
}

// Pressed again until the box has gone: a key may go astray while the foreground moves.
WORD s_aboutKey;
void CALLBACK PressAboutKeyAgain(HWND window, UINT, UINT_PTR, DWORD) {
    PressKey(window, s_aboutKey);
}

TEST(AboutBox, OpensFromTheSystemMenuWithItsTextsAndFontsAndClosesOnEachKey) {
    std::vector<std::string> seen;
    int boxes = 0;
    RunMainWindow(
        [&](HWND w) {
            // Closed with Escape, then with Enter (its OK button is the journeys'); each
            // WM_SYSCOMMAND returns once the box has closed.
            ::SendMessageA(w, WM_SYSCOMMAND, IDM_ABOUT, 0);
            ::SendMessageA(w, WM_SYSCOMMAND, IDM_ABOUT, 0);
            Close(w);
        },
        [&](HWND about) {
            HWND icon = FindChild(about, [](HWND child) {
                return (::GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                       ClassName(child) == "Static";
            });
            seen = {WindowText(about),
                    ItemText(about, IDC_ABOUT_TITLE),
                    ItemText(about, IDC_ABOUT_VERSION),
                    FontText(Item(about, IDC_ABOUT_TITLE)),
                    FontText(Item(about, IDC_ABOUT_VERSION)),
                    icon && ::SendMessageA(icon, STM_GETICON, 0, 0) ? "icon" : "no icon",
                    ::GetWindow(about, GW_OWNER) == AfxGetMainWnd()->m_hWnd ? "owned" : "unowned"};
            s_aboutKey = ++boxes == 1 ? VK_ESCAPE : VK_RETURN;
            PressKey(about, s_aboutKey);
            ::SetTimer(about, 0x4B45, 400, PressAboutKeyAgain);
        });
    EXPECT_EQ(2, boxes);
    EXPECT_EQ((std::vector<std::string>{"About Korvane Converter", "Korvane\nConverter", "Version 1.0",
                                        "Arial -21 700 italic", "Arial -19 700", "icon", "owned"}),
              seen);
}

namespace {

// The main window with its help requests counted on their way to the real window help.
class CHelpWatchingDlg : public CConverterDlg {
public:
    void WinHelp(DWORD_PTR data, UINT command) override {
        m_requests.push_back(command == HELP_CONTEXT ? data : 0);
        CConverterDlg::WinHelp(data, command);
    }
    std::vector<DWORD_PTR> m_requests;
};

}  // namespace

TEST(Help, ButtonSystemMenuAndF1AskForTheMainWindowsContextAndNotInTheAboutBox) {
    // Without a help file each request ends in a message box over the main window.
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(theApp.m_strHelpFilePath));
    CHelpWatchingDlg dlg;
    LRESULT aboutAnswer = -1;
    std::vector<std::string> boxes;
    RunMainWindow<CHelpWatchingDlg>(
        [&](HWND w) {
            ClickNow(w, ID_HELP);
            ::SendMessageA(w, WM_SYSCOMMAND, IDM_HELP, 0);
            PressKeyUntil(w, Item(w, IDC_ADD), VK_F1, [&] { return dlg.m_requests.size() > 2; });
            // Minimised, the window has no focus, yet its system menu (from the taskbar) offers Help.
            ::SetFocus(nullptr);
            ::SendMessageA(w, WM_SYSCOMMAND, IDM_HELP, 0);
            ::SendMessageA(w, WM_SYSCOMMAND, IDM_ABOUT, 0);
            Close(w);
        },
        [&](HWND about) {
            if (WindowText(about) != "About Korvane Converter") {
                boxes.push_back(QuestionText(about) +
                                (::GetWindow(about, GW_OWNER) == dlg.m_hWnd ? "" : " unowned"));
                return (void)::PostMessageA(about, WM_COMMAND, IDOK, 0);
            }
            HELPINFO info{sizeof info, HELPINFO_WINDOW, IDOK, Item(about, IDOK), 0, {0, 0}};
            aboutAnswer = ::SendMessageA(about, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            Click(about, IDOK);
        },
        &dlg);
    EXPECT_EQ(std::vector<DWORD_PTR>(4, HID_BASE_RESOURCE + IDD_CONVERTER), dlg.m_requests);
    EXPECT_EQ(std::vector<std::string>(4, "Failed to launch help."), boxes);
    EXPECT_EQ(0, aboutAnswer);
}

TEST(MainWindow, SelectionTooLargeForTheBufferIsReported) {
    // 140 names of 120 characters do not fit into the 16384-byte result buffer. Windows fails
    // the dialog with FNERR_BUFFERTOOSMALL; Wine returns the list cut off at the buffer's end.
    TestFolder folder("many");
    std::string typed;
    for (int i = 0; i < 140; ++i) {
        const std::string name = std::to_string(100 + i) + std::string(111, 'n') + ".TiVo";
        folder.AddFile(name, 1);
        typed += "\"" + name + "\" ";
    }
    const std::string savedDir = CurrentDirectory();
    ::SetCurrentDirectoryA(folder.Path().c_str());
    std::vector<std::string> boxes;
    int rows = -1;
    RunMainWindow(
        [&](HWND w) {
            ClickNow(w, IDC_ADD);
            rows = List(w)->GetItemCount();
            Close(w);
        },
        [&](HWND dialog) {
            if (WindowText(dialog) == "Select TiVo Files to Convert") return AnswerFileDialog(dialog, typed);
            boxes.push_back(WindowText(dialog) + ": " + QuestionText(dialog));
            ::PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
    ::SetCurrentDirectoryA(savedDir.c_str());
    EXPECT_EQ(0, rows);
    EXPECT_EQ(
        std::vector<std::string>{
            "Too many files: Too many files were chosen at once. Please add them in smaller groups."},
        boxes);
}

namespace {

// The text of the item selected in the folder browser's tree (the new-style browser nests it).
std::string BrowserSelection(HWND browser) {
    HWND tree = FindChild(browser, [](HWND child) { return ClassName(child) == WC_TREEVIEWA; });
    char text[MAX_PATH] = "";
    TVITEMA item{TVIF_TEXT, nullptr, 0, 0, text, sizeof text, 0, 0, 0, 0};
    item.hItem =
        tree ? reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)) : nullptr;
    if (item.hItem) ::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return text;
}

// The browser walks down to the folder it was asked to open on one level at a time, and a
// loaded machine may hand it to the test half-way; now and then Wine's browser also stops
// the walk early. It is answered OK once its tree shows the folder `name` selected; one that
// has not got there after 5 s is cancelled so that the test can open it again, except on
// the last attempt, where the checks report where it stood.
struct BrowserAnswer {
    std::string name;
    bool lastAttempt = false;
    DWORD deadline = 0;
    bool acceptedAtFolder = false;
    std::string selections;  // every selection the browser showed, for a failure message
} g_browser;

void CALLBACK AnswerBrowserWhenSelected(HWND window, UINT, UINT_PTR id, DWORD) {
    const std::string selected = BrowserSelection(window);
    if (g_browser.selections.rfind(selected + ";") + selected.size() + 1 != g_browser.selections.size())
        g_browser.selections += selected + ";";
    const bool atFolder = CString(selected.c_str()).CompareNoCase(g_browser.name.c_str()) == 0;
    if (!atFolder && static_cast<LONG>(::GetTickCount() - g_browser.deadline) < 0) return;
    ::KillTimer(window, id);
    g_browser.acceptedAtFolder = atFolder;
    ::PostMessageA(window, WM_COMMAND, atFolder || g_browser.lastAttempt ? IDOK : IDCANCEL, 0);
}

void AnswerBrowserOnceSelected(HWND browser) {
    g_browser.deadline = ::GetTickCount() + 5000;
    g_browser.selections += "|";
    ::SetTimer(browser, 0x4252, 50, AnswerBrowserWhenSelected);
}

}  // namespace

TEST(MainWindow, BrowseOpensOnTheFieldsFolderAndCancelKeepsTheText) {
    TestFolder chosen("browse");
    const std::string path = chosen.Path();
    g_browser = BrowserAnswer();
    g_browser.name = path.substr(path.rfind('\\') + 1);
    std::string afterOk, afterCancel;
    bool titleShown = false, cancelling = false;
    int attempts = 0, browsers = 0;
    RunMainWindow(
        [&](HWND w) {
            ClickNow(w, IDC_SAME_FOLDER);
            for (; attempts < 3 && !g_browser.acceptedAtFolder; ++attempts) {
                g_browser.lastAttempt = attempts == 2;
                ::SetWindowTextA(Item(w, IDC_OUTPUT_FOLDER), path.c_str());
                ClickNow(w, IDC_BROWSE);
            }
            afterOk = ItemText(w, IDC_OUTPUT_FOLDER);
            ::SetWindowTextA(Item(w, IDC_OUTPUT_FOLDER), "typed by hand");
            cancelling = true;
            ClickNow(w, IDC_BROWSE);
            afterCancel = ItemText(w, IDC_OUTPUT_FOLDER);
            Close(w);
        },
        [&](HWND browser) {
            ++browsers;
            if (cancelling) return (void)::PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
            titleShown = FindChildByText(browser, "Select Output Folder for MPEGs") != nullptr;
            AnswerBrowserOnceSelected(browser);
        });
    EXPECT_EQ(attempts + 1, browsers);
    EXPECT_TRUE(titleShown);
    EXPECT_TRUE(g_browser.acceptedAtFolder) << "selections seen: " << g_browser.selections;
    EXPECT_TRUE(SamePath(afterOk, chosen.Path())) << afterOk << "; selections seen: " << g_browser.selections;
    EXPECT_EQ("typed by hand", afterCancel);
}

namespace {

// The main window with its icon-background erasing counted.
class CPaintWatchingDlg : public CConverterDlg {
public:
    LRESULT OnIconEraseBackground(WPARAM, LPARAM) {
        ++m_iconErases;
        Default();
        return 0;
    }
    int m_iconErases = 0;
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CPaintWatchingDlg, CConverterDlg)
    ON_MESSAGE(WM_ICONERASEBKGND, OnIconEraseBackground)
END_MESSAGE_MAP()

}  // namespace

TEST(MainWindow, PaintsItsIconOnlyWhenMinimised) {
    CPaintWatchingDlg dlg;
    std::vector<int> erases;
    RunMainWindow<CPaintWatchingDlg>(
        [&](HWND w) {
            // A minimised window has no client area to invalidate here (Wine, like Windows
            // with a taskbar, sends it no WM_PAINT), so the message is sent directly.
            for (int show : {SW_RESTORE, SW_MINIMIZE}) {
                ::ShowWindow(w, show);
                ::SendMessageA(w, WM_PAINT, 0, 0);
                erases.push_back(::IsIconic(w) ? dlg.m_iconErases + 100 : dlg.m_iconErases);
            }
            ::ShowWindow(w, SW_RESTORE);
            Close(w);
        },
        nullptr, &dlg);
    EXPECT_EQ((std::vector<int>{0, 101}), erases);  // 100: minimised at the time
}

TEST(ConvertCommand, HandsOverTheRowsAndTheOutputFolderAndRemovesTheRowsGotThrough) {
    // Every source has an output already, so each file asks the overwrite question, which names
    // the output folder the progress window was given; the answers decide how far a batch gets.
    TestFolder sources("convert-src"), output("convert-out");
    for (const char* name : {"a", "b", "c"}) {
        sources.AddFile(name + std::string(".TiVo"), 10);
        sources.AddFile(name + std::string(".mpg"), 1);
    }
    output.AddFile("c.mpg", 1);
    std::vector<std::string> questions;  // "<folder>|<name>"
    const char* answers[] = {"&No", "&No", "&Cancel", "&No"};
    std::vector<std::string> firstBatchRows;
    std::string labelAfterFirst, labelAfterSecond;
    bool removeBeforeSecond = false, removeAfterSecond = true;
    std::string nothingToDo;
    HWND mainWindow = nullptr;
    RunMainWindow(
        [&](HWND w) {
            mainWindow = w;
            ClickNow(w, IDOK);  // with nothing listed it only says so
            for (const char* name : {"c", "a", "b"})
                AddFileRow(*List(w), sources.Path(name + std::string(".TiVo")).c_str());
            // Same folder: two files skipped, the third question cancels the batch (index 2).
            ClickNow(w, IDOK);
            firstBatchRows = Column(w, 0);
            labelAfterFirst = ItemText(w, IDC_COUNT_LABEL);
            // An output folder: the one row left is skipped, so the batch gets through it.
            ClickNow(w, IDC_SAME_FOLDER);
            ::SetWindowTextA(Item(w, IDC_OUTPUT_FOLDER), output.Path().c_str());
            List(w)->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
            removeBeforeSecond = Enabled(w, IDC_REMOVE);
            ClickNow(w, IDOK);
            EXPECT_EQ(0, List(w)->GetItemCount());
            labelAfterSecond = ItemText(w, IDC_COUNT_LABEL);
            removeAfterSecond = Enabled(w, IDC_REMOVE);
            Close(w);
        },
        [&](HWND dialog) {
            if (WindowText(dialog) == "Nothing to do") {
                nothingToDo =
                    QuestionText(dialog) + (::GetWindow(dialog, GW_OWNER) == mainWindow ? "" : " unowned");
                return (void)::PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            }
            if (WindowText(dialog) != "Overwrite File?") return;  // the progress window itself
            // "<folder>\r\nFolder already contains An MPG file for\r\n<name>\r\n\r\nOverwrite..."
            std::string text = QuestionText(dialog);
            const size_t folderEnd = text.find("\r\n"), nameStart = text.find("\r\n", folderEnd + 2) + 2;
            questions.push_back(text.substr(0, folderEnd) + "|" +
                                text.substr(nameStart, text.find("\r\n", nameStart) - nameStart));
            const char* answer = answers[std::min<size_t>(questions.size(), 4) - 1];
            HWND button = FindChildByText(dialog, answer);
            EXPECT_NE(nullptr, button) << answer;
            // The question refuses to close any other way: a missing button still answers.
            ::PostMessageA(button ? button : Item(dialog, IDC_CHOICE_B1), BM_CLICK, 0, 0);
        });

    EXPECT_EQ("Please select at least one TiVo file to convert.", nothingToDo);
    // Row order, which is name order; beside the sources, then in the folder as typed.
    const std::string from(sources.Path()), to(output.Path());
    EXPECT_EQ(
        (std::vector<std::string>{from + "|a.TiVo", from + "|b.TiVo", from + "|c.TiVo", to + "|c.TiVo"}),
        questions);
    // Cancelled at the third file: the first two rows are gone, and the label says so.
    EXPECT_EQ(std::vector<std::string>{"c.TiVo"}, firstBatchRows);
    EXPECT_EQ("1 File Selected", labelAfterFirst);
    // Got through the whole batch: the list is empty, the label and "&Remove" follow.
    EXPECT_TRUE(removeBeforeSecond);
    EXPECT_EQ("0 Files Selected", labelAfterSecond);
    EXPECT_FALSE(removeAfterSecond);
}

// The real main window, run modally in-process, driven through its controls, the real
// open-file dialog, the About box and the help path.
#include "app/ConverterApp.h"
#include "res/resource.h"
#include "ui/main/ConverterDlg.h"
#include "ui/main/SourceList.h"

#include "ModalDriver.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <dlgs.h>
#include <objbase.h>

#include <algorithm>
#include <functional>
#include <vector>

// The program's application object: it handles ID_HELP, names the help file after this
// executable and is what the main window's help goes to.
CConverterApp theApp;

namespace {

using Step = std::function<void(HWND)>;

// Runs the main window: `scenario` gets its handle once it is up; every other dialog goes to
// `other`. The scenario ends the window itself (or the test's checks fail on the result).
template <class Dialog = CConverterDlg>
INT_PTR RunMainWindow(const Step& scenario, const Step& other = nullptr, Dialog* dlg = nullptr) {
    Dialog local;
    Dialog& window = dlg ? *dlg : local;
    bool started = false;
    ModalDriver driver([&](HWND dialog) {
        if (!started && WindowText(dialog) == "Korvane Converter") {
            started = true;
            scenario(dialog);
        } else if (other) {
            other(dialog);
        }
    });
    theApp.m_pMainWnd = &window;
    INT_PTR result = window.DoModal();
    theApp.m_pMainWnd = nullptr;
    EXPECT_TRUE(started) << "the main window never showed";
    return result;
}

HWND Item(HWND dialog, int id) {
    return ::GetDlgItem(dialog, id);
}

bool Enabled(HWND dialog, int id) {
    return ::IsWindowEnabled(Item(dialog, id)) != FALSE;
}

// Runs this thread's messages through the dialog manager for about ms milliseconds, as
// the modal loop would: keyboard input reaches the dialog's keyboard interface.
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
// window of the display may hold the foreground for a moment: false when the window could
// not be brought there, so the key was not sent.
bool PressKey(HWND window, WORD key) {
    for (int attempt = 0; attempt < 20 && ::GetForegroundWindow() != window; ++attempt) {
        ::SetForegroundWindow(window);
        if (::GetForegroundWindow() != window) ::Sleep(25);
    }
    if (::GetForegroundWindow() != window) return false;
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = key;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, keys, sizeof(INPUT));
    return true;
}

// Presses key in a dialog now and again every 400 ms until the dialog has gone: a key
// that went astray while the foreground moved is simply pressed again.
void PressKeyUntilClosed(HWND dialog, WORD key) {
    static WORD s_key;
    s_key = key;
    PressKey(dialog, key);
    ::SetTimer(dialog, 0x4B45, 400, [](HWND window, UINT, UINT_PTR, DWORD) { PressKey(window, s_key); });
}

CListCtrl* List(HWND dialog) {
    return static_cast<CListCtrl*>(CWnd::FromHandlePermanent(Item(dialog, IDC_FILE_LIST)));
}

std::vector<CString> Column(HWND dialog, int column) {
    std::vector<CString> cells;
    CListCtrl* list = List(dialog);
    for (int row = 0; row < list->GetItemCount(); ++row)
        cells.push_back(list->GetItemText(row, column));
    return cells;
}

// The edit box of the open-file dialog's file name field.
HWND FileNameField(HWND fileDialog) {
    HWND field = Item(fileDialog, edt1);
    if (field && ::IsWindowVisible(field)) return field;
    // Wine's field is a ComboBoxEx32 with an edit inside its combo box.
    HWND combo = Item(fileDialog, cmb13);
    HWND edit = combo && ClassName(combo) == "ComboBoxEx32"
                    ? reinterpret_cast<HWND>(::SendMessageA(combo, CBEM_GETEDITCONTROL, 0, 0))
                    : (combo ? ::FindWindowExA(combo, nullptr, "Edit", nullptr) : nullptr);
    return edit ? edit : combo;
}

// What the open-file dialog showed, and what the test typed into it.
struct FileDialogVisit {
    CString title;
    CString folder;
    CString fileType;            // the type list's current entry: the filter's description
    bool readOnlyShown = false;  // OFN_HIDEREADONLY is not among the flags
};

// Answers the open-file dialog with `typed` (names in quotes, relative to its folder), or
// cancels it when typed is empty.
Step AnswerFileDialog(CString typed, FileDialogVisit* visit) {
    return [typed, visit](HWND dialog) {
        if (visit) {
            visit->title = WindowText(dialog);
            char folder[MAX_PATH] = "";
            ::SendMessageA(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
            visit->folder = folder;
            visit->fileType = WindowText(Item(dialog, cmb1));
            HWND readOnly = Item(dialog, chx1);
            visit->readOnlyShown = readOnly && (::GetWindowLongA(readOnly, GWL_STYLE) & WS_VISIBLE) != 0;
        }
        if (typed.IsEmpty()) {
            ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        ::SetWindowTextA(FileNameField(dialog), typed);
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(Item(dialog, IDOK)));
    };
}

CString CurrentDirectory() {
    char path[MAX_PATH] = "";
    ::GetCurrentDirectoryA(MAX_PATH, path);
    return path;
}

LOGFONTA FontOf(HWND control) {
    LOGFONTA font{};
    HFONT handle = reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0));
    ::GetObjectA(handle, sizeof font, &font);
    return font;
}

}  // namespace

TEST(MainWindow, StateRightAfterStart) {
    CString startDir = CurrentDirectory();
    int focusedId = 0;
    RunMainWindow([&](HWND w) {
        EXPECT_STREQ("Korvane Converter", WindowText(w));
        EXPECT_STREQ("0 Files Selected", WindowText(Item(w, IDC_COUNT_LABEL)));
        EXPECT_EQ(BST_CHECKED, ::SendMessageA(Item(w, IDC_SAME_FOLDER), BM_GETCHECK, 0, 0));
        EXPECT_STREQ(startDir, WindowText(Item(w, IDC_OUTPUT_FOLDER)));
        EXPECT_FALSE(Enabled(w, IDC_OUTPUT_FOLDER));
        EXPECT_FALSE(Enabled(w, IDC_OUTPUT_FOLDER_LABEL));
        EXPECT_FALSE(Enabled(w, IDC_BROWSE));
        EXPECT_FALSE(Enabled(w, IDC_REMOVE));
        EXPECT_TRUE(Enabled(w, IDC_ADD));
        EXPECT_TRUE(::IsWindowVisible(Item(w, ID_HELP)));
        EXPECT_EQ(0, List(w)->GetItemCount());
        focusedId = ::GetDlgCtrlID(::GetFocus());

        // Columns and their first widths.
        const char* headings[3] = {"File Name", "Path", "Size"};
        const int widths[3] = {130, 120, 100};
        const int formats[3] = {LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_RIGHT};
        for (int column = 0; column < 3; ++column) {
            char heading[64] = "";
            LVCOLUMNA col{};
            col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
            col.pszText = heading;
            col.cchTextMax = sizeof heading;
            ASSERT_TRUE(::SendMessageA(Item(w, IDC_FILE_LIST), LVM_GETCOLUMNA, column,
                                       reinterpret_cast<LPARAM>(&col)));
            EXPECT_STREQ(headings[column], heading);
            EXPECT_EQ(widths[column], col.cx);
            EXPECT_EQ(formats[column], col.fmt & LVCFMT_JUSTIFYMASK);
        }

        // The system menu ends with a separator, About and Help.
        HMENU menu = ::GetSystemMenu(w, FALSE);
        int count = ::GetMenuItemCount(menu);
        ASSERT_GE(count, 3);
        EXPECT_EQ(static_cast<UINT>(MF_SEPARATOR),
                  ::GetMenuState(menu, count - 3, MF_BYPOSITION) & MF_SEPARATOR);
        char text[64] = "";
        ::GetMenuStringA(menu, count - 2, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ("&About Korvane...", text);
        EXPECT_EQ(static_cast<UINT>(IDM_ABOUT), ::GetMenuItemID(menu, count - 2));
        ::GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ("&Help\tF1", text);
        EXPECT_EQ(static_cast<UINT>(IDM_HELP), ::GetMenuItemID(menu, count - 1));

        // Icons, the drag icon and the semi-bold group captions.
        HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_CONVERTER));
        ASSERT_NE(nullptr, icon);
        EXPECT_EQ(reinterpret_cast<LRESULT>(icon), ::SendMessageA(w, WM_GETICON, ICON_BIG, 0));
        EXPECT_EQ(reinterpret_cast<LRESULT>(icon), ::SendMessageA(w, WM_GETICON, ICON_SMALL, 0));
        EXPECT_EQ(reinterpret_cast<LRESULT>(icon), ::SendMessageA(w, WM_QUERYDRAGICON, 0, 0));
        for (int group : {IDC_INPUT_GROUP, IDC_OUTPUT_GROUP}) {
            LOGFONTA font = FontOf(Item(w, group));
            EXPECT_EQ(600, font.lfWeight);
            EXPECT_EQ(-11, font.lfHeight);
            EXPECT_STREQ("MS Sans Serif", font.lfFaceName);
        }
        ::PostMessageA(w, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(IDOK, focusedId);  // the first tab stop, "&Convert!"
}

TEST(MainWindow, AddThroughTheOpenFileDialogSortsSkipsDuplicatesAndFitsColumns) {
    TestFolder first("add1");
    TestFolder second("add2");
    first.AddFile("c.TiVo", 1048576);
    first.AddFile("A.TiVo", 1023);
    first.AddFile("b.TiVo", 125952);
    second.AddFile("A.TiVo", 2048);
    second.AddFile("d.TiVo", 0);
    CString savedDir = CurrentDirectory();

    FileDialogVisit visits[3];
    int visit = 0;
    CString dirAfterFirstAdd;
    std::vector<CString> names, folders, sizes;
    int widths[3] = {0, 0, 0};
    CString label;
    bool removeEnabled = true;
    int dialogsSeen = 0;
    const char* answers[3] = {"\"c.TiVo\" \"A.TiVo\" \"b.TiVo\"", "\"a.tivo\"", "\"A.TiVo\" \"d.TiVo\""};

    ::SetCurrentDirectoryA(first.Path());
    RunMainWindow(
        [&](HWND w) {
            ClickNow(w, IDC_ADD);
            dirAfterFirstAdd = CurrentDirectory();
            ClickNow(w, IDC_ADD);  // the same file again, in another letter case
            ::SetCurrentDirectoryA(second.Path());
            ClickNow(w, IDC_ADD);
            names = Column(w, 0);
            folders = Column(w, 1);
            sizes = Column(w, 2);
            for (int column = 0; column < 3; ++column)
                widths[column] = List(w)->GetColumnWidth(column);
            label = WindowText(Item(w, IDC_COUNT_LABEL));
            removeEnabled = Enabled(w, IDC_REMOVE);

            // The widths follow the widest cell of each column.
            HWND list = Item(w, IDC_FILE_LIST);
            int widestName = 0, widestFolder = 0, widestSize = 0;
            for (size_t row = 0; row < names.size(); ++row) {
                widestName = std::max(widestName, TextWidthInList(list, names[row]) + 8);
                widestFolder = std::max(widestFolder, TextWidthInList(list, folders[row]) + 12);
                widestSize = std::max(widestSize, TextWidthInList(list, sizes[row]) + 12);
            }
            EXPECT_EQ(widestName, widths[0]);
            EXPECT_EQ(widestFolder, widths[1]);
            EXPECT_EQ(widestSize, widths[2]);
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        [&](HWND dialog) {
            ++dialogsSeen;
            if (visit < 3) {
                AnswerFileDialog(answers[visit], &visits[visit])(dialog);
                ++visit;
            } else {
                ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            }
        });
    ::SetCurrentDirectoryA(savedDir);

    EXPECT_EQ(3, dialogsSeen);  // three open-file dialogs, no message box
    EXPECT_STREQ("Select TiVo Files to Convert", visits[0].title);
    EXPECT_STREQ("TiVo Desktop Movies (*.TiVo)", visits[0].fileType);
    EXPECT_TRUE(visits[0].readOnlyShown);
    EXPECT_EQ(0, visits[0].folder.CompareNoCase(first.Path()));
    EXPECT_EQ(0, dirAfterFirstAdd.CompareNoCase(first.Path()));  // not restored: the next Add starts there
    EXPECT_EQ(0, visits[1].folder.CompareNoCase(first.Path()));
    EXPECT_EQ(0, visits[2].folder.CompareNoCase(second.Path()));

    ASSERT_EQ(5u, names.size());
    // Sorted by name; two files called A.TiVo from two folders are two rows.
    EXPECT_EQ(0, names[0].CompareNoCase("A.TiVo"));
    EXPECT_EQ(0, names[1].CompareNoCase("A.TiVo"));
    EXPECT_STREQ("b.TiVo", names[2]);
    EXPECT_STREQ("c.TiVo", names[3]);
    EXPECT_STREQ("d.TiVo", names[4]);
    EXPECT_NE(0, folders[0].CompareNoCase(folders[1]));
    for (int row : {2, 3})
        EXPECT_EQ(0, folders[row].CompareNoCase(first.Path()));
    EXPECT_EQ(0, folders[4].CompareNoCase(second.Path()));
    EXPECT_STREQ("123 KB", sizes[2]);
    EXPECT_STREQ("1,024 KB", sizes[3]);
    EXPECT_STREQ("0 KB", sizes[4]);
    EXPECT_STREQ("5 Files Selected", label);
    EXPECT_FALSE(removeEnabled);
    EXPECT_LT(widths[0], 130);  // narrower than the heading "File Name" column started with
}

TEST(MainWindow, CancelledAddChangesNothingAndSaysNothing) {
    TestFolder folder("cancel");
    folder.AddFile("x.TiVo", 10);
    CString savedDir = CurrentDirectory();
    ::SetCurrentDirectoryA(folder.Path());
    int dialogsSeen = 0;
    CString label;
    int rows = -1;
    int widthBefore = 0, widthAfter = 0;
    RunMainWindow(
        [&](HWND w) {
            widthBefore = List(w)->GetColumnWidth(0);
            ClickNow(w, IDC_ADD);
            rows = List(w)->GetItemCount();
            label = WindowText(Item(w, IDC_COUNT_LABEL));
            widthAfter = List(w)->GetColumnWidth(0);
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        [&](HWND dialog) {
            ++dialogsSeen;
            AnswerFileDialog(nullptr, nullptr)(dialog);
        });
    EXPECT_EQ(0, CurrentDirectory().CompareNoCase(folder.Path()));
    ::SetCurrentDirectoryA(savedDir);
    EXPECT_EQ(1, dialogsSeen);
    EXPECT_EQ(0, rows);
    EXPECT_STREQ("0 Files Selected", label);
    EXPECT_EQ(widthBefore, widthAfter);
}

TEST(MainWindow, RemoveDeletesEverySelectedRowAndTracksTheButton) {
    RunMainWindow([](HWND w) {
        CListCtrl* list = List(w);
        const char* paths[] = {"C:\\r\\1.TiVo", "C:\\r\\2.TiVo", "C:\\r\\3.TiVo", "C:\\r\\4.TiVo",
                               "C:\\r\\5.TiVo"};
        for (const char* path : paths)
            AddFileRow(*list, path);
        ::SendMessageA(w, WM_COMMAND, MAKEWPARAM(IDC_REMOVE, BN_CLICKED),
                       0);  // nothing selected: refresh only
        EXPECT_EQ(5, list->GetItemCount());
        EXPECT_STREQ("5 Files Selected", WindowText(Item(w, IDC_COUNT_LABEL)));
        int fitted = list->GetColumnWidth(0);
        EXPECT_NE(130, fitted);

        // Selecting enables Remove; clearing the selection disables it again.
        list->SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
        EXPECT_TRUE(Enabled(w, IDC_REMOVE));
        list->SetItemState(1, 0, LVIS_SELECTED);
        EXPECT_FALSE(Enabled(w, IDC_REMOVE));

        // Rows 0, 2 and 4: not adjacent.
        for (int row : {0, 2, 4})
            list->SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
        EXPECT_TRUE(Enabled(w, IDC_REMOVE));
        ClickNow(w, IDC_REMOVE);
        ASSERT_EQ(2, list->GetItemCount());
        EXPECT_STREQ("2.TiVo", list->GetItemText(0, 0));
        EXPECT_STREQ("4.TiVo", list->GetItemText(1, 0));
        EXPECT_FALSE(Enabled(w, IDC_REMOVE));
        EXPECT_STREQ("2 Files Selected", WindowText(Item(w, IDC_COUNT_LABEL)));

        // Removing every row leaves the widths as they were.
        list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
        list->SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
        int widths[3] = {list->GetColumnWidth(0), list->GetColumnWidth(1), list->GetColumnWidth(2)};
        ClickNow(w, IDC_REMOVE);
        EXPECT_EQ(0, list->GetItemCount());
        EXPECT_STREQ("0 Files Selected", WindowText(Item(w, IDC_COUNT_LABEL)));
        EXPECT_FALSE(Enabled(w, IDC_REMOVE));
        for (int column = 0; column < 3; ++column)
            EXPECT_EQ(widths[column], list->GetColumnWidth(column));
        ::PostMessageA(w, WM_CLOSE, 0, 0);
    });
}

TEST(MainWindow, SameFolderBoxSwitchesTheOutputControls) {
    RunMainWindow([](HWND w) {
        ::SetWindowTextA(Item(w, IDC_OUTPUT_FOLDER), "D:\\Out");
        ClickNow(w, IDC_SAME_FOLDER);
        EXPECT_EQ(BST_UNCHECKED, ::SendMessageA(Item(w, IDC_SAME_FOLDER), BM_GETCHECK, 0, 0));
        EXPECT_TRUE(Enabled(w, IDC_OUTPUT_FOLDER));
        EXPECT_TRUE(Enabled(w, IDC_OUTPUT_FOLDER_LABEL));
        EXPECT_TRUE(Enabled(w, IDC_BROWSE));
        ClickNow(w, IDC_SAME_FOLDER);
        EXPECT_FALSE(Enabled(w, IDC_OUTPUT_FOLDER));
        EXPECT_FALSE(Enabled(w, IDC_OUTPUT_FOLDER_LABEL));
        EXPECT_FALSE(Enabled(w, IDC_BROWSE));
        EXPECT_STREQ("D:\\Out", WindowText(Item(w, IDC_OUTPUT_FOLDER)));
        ::PostMessageA(w, WM_CLOSE, 0, 0);
    });
}

TEST(MainWindow, EscapeDoesNothingWhileExitAndCloseCancel) {
    bool stillOpen = false;
    bool escapePressed = false;
    INT_PTR result = RunMainWindow([&](HWND w) {
        escapePressed = PressKey(w, VK_ESCAPE);
        PumpDialog(w, 300);
        ::SendMessageA(w, WM_COMMAND, IDCANCEL, 0);  // what Escape becomes in the dialog manager
        stillOpen = ::IsWindowVisible(w) != FALSE;
        ClickNow(w, IDC_EXIT);
    });
    EXPECT_TRUE(escapePressed);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(IDCANCEL, result);

    EXPECT_EQ(IDCANCEL, RunMainWindow([](HWND w) { ::PostMessageA(w, WM_CLOSE, 0, 0); }));
    // The caption's close box and Alt+F4 arrive as the system command SC_CLOSE.
    EXPECT_EQ(IDCANCEL, RunMainWindow([](HWND w) { ::PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0); }));
}

TEST(MainWindow, EnterRunsConvertWhichAsksForFilesFirst) {
    CString text, caption;
    HWND owner = nullptr, mainWindow = nullptr;
    RunMainWindow(
        [&](HWND w) {
            mainWindow = w;
            for (int attempt = 0; attempt < 10 && text.IsEmpty(); ++attempt) {
                ::SetFocus(Item(w, IDC_FILE_LIST));
                PressKey(w, VK_RETURN);
                PumpDialog(w, 200);
            }
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        [&](HWND box) {
            text = MessageBoxText(box);
            caption = WindowText(box);
            owner = ::GetWindow(box, GW_OWNER);
            ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        });
    EXPECT_STREQ("Please select at least one TiVo file to convert.", text);
    EXPECT_STREQ("Nothing to do", caption);
    EXPECT_EQ(mainWindow, owner);
}

TEST(MainWindow, EnterInTheOutputFieldRunsConvertAndOnAnotherButtonPressesThatButton) {
    std::vector<CString> seen;  // captions of the dialogs that opened, in order
    CString boxText;
    RunMainWindow(
        [&](HWND w) {
            ClickNow(w, IDC_SAME_FOLDER);  // the field takes the focus only when enabled
            // Focus moved the way the Tab key moves it, so the dialog manager keeps the
            // default button up to date.
            for (int attempt = 0; attempt < 10 && seen.empty(); ++attempt) {
                ::SendMessageA(w, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(w, IDC_OUTPUT_FOLDER)), TRUE);
                PressKey(w, VK_RETURN);
                PumpDialog(w, 200);
            }
            size_t afterField = seen.size();
            for (int attempt = 0; attempt < 10 && seen.size() == afterField; ++attempt) {
                ::SendMessageA(w, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(w, IDC_ADD)), TRUE);
                PressKey(w, VK_RETURN);
                PumpDialog(w, 200);
            }
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        [&](HWND dialog) {
            seen.push_back(WindowText(dialog));
            if (seen.size() == 1) boxText = MessageBoxText(dialog);
            ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        });
    ASSERT_EQ(2u, seen.size());
    EXPECT_STREQ("Nothing to do", seen[0]);  // Enter in the field: the Convert command
    EXPECT_STREQ("Please select at least one TiVo file to convert.", boxText);
    EXPECT_STREQ("Select TiVo Files to Convert", seen[1]);  // Enter on "&Add": Add, not Convert
}

namespace {

// How the About box is to be closed.
enum class AboutClose { OkButton, Escape, Enter };

struct AboutVisit {
    CString caption, title, version;
    LOGFONTA titleFont{}, versionFont{};
    HWND owner = nullptr;
    bool iconShown = false;
    DWORD openMs = 0;
};

// The modal driver gives up on a dialog after 20 s; a box gone well before that was closed by
// the key, however loaded the machine.
constexpr DWORD kClosedByKeyMs = 15000;

AboutVisit OpenAbout(AboutClose how) {
    AboutVisit seen;
    HWND mainWindow = nullptr;
    RunMainWindow(
        [&](HWND w) {
            mainWindow = w;
            DWORD start = ::GetTickCount();
            ::SendMessageA(w, WM_SYSCOMMAND, IDM_ABOUT, 0);  // returns once the box has closed
            seen.openMs = ::GetTickCount() - start;
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        [&](HWND about) {
            seen.caption = WindowText(about);
            seen.title = WindowText(Item(about, IDC_ABOUT_TITLE));
            seen.version = WindowText(Item(about, IDC_ABOUT_VERSION));
            seen.titleFont = FontOf(Item(about, IDC_ABOUT_TITLE));
            seen.versionFont = FontOf(Item(about, IDC_ABOUT_VERSION));
            seen.owner = ::GetWindow(about, GW_OWNER);
            HWND icon = ::FindWindowExA(about, nullptr, "Static", nullptr);
            for (; icon; icon = ::FindWindowExA(about, icon, "Static", nullptr)) {
                if ((::GetWindowLongA(icon, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                    seen.iconShown = ::SendMessageA(icon, STM_GETICON, 0, 0) != 0;
            }
            switch (how) {
            case AboutClose::OkButton:
                Click(about, IDOK);
                break;
            case AboutClose::Escape:
                PressKeyUntilClosed(about, VK_ESCAPE);
                break;
            case AboutClose::Enter:
                PressKeyUntilClosed(about, VK_RETURN);
                break;
            }
        });
    EXPECT_EQ(mainWindow, seen.owner);
    return seen;
}

}  // namespace

TEST(AboutBox, OpensFromTheSystemMenuWithItsTextsAndFonts) {
    AboutVisit seen = OpenAbout(AboutClose::OkButton);
    EXPECT_STREQ("About Korvane Converter", seen.caption);
    EXPECT_STREQ("Korvane\nConverter", seen.title);
    EXPECT_STREQ("Version 1.0", seen.version);
    EXPECT_TRUE(seen.iconShown);
    EXPECT_STREQ("Arial", seen.titleFont.lfFaceName);
    EXPECT_EQ(-21, seen.titleFont.lfHeight);
    EXPECT_EQ(700, seen.titleFont.lfWeight);
    EXPECT_TRUE(seen.titleFont.lfItalic);
    EXPECT_STREQ("Arial", seen.versionFont.lfFaceName);
    EXPECT_EQ(-19, seen.versionFont.lfHeight);
    EXPECT_EQ(700, seen.versionFont.lfWeight);
    EXPECT_FALSE(seen.versionFont.lfItalic);
    EXPECT_LT(seen.openMs, kClosedByKeyMs);
}

TEST(AboutBox, ClosesOnEscapeAndEnter) {
    EXPECT_LT(OpenAbout(AboutClose::Escape).openMs, kClosedByKeyMs);
    EXPECT_LT(OpenAbout(AboutClose::Enter).openMs, kClosedByKeyMs);
}

namespace {

// The main window with window help observed instead of started.
class CHelpWatchingDlg : public CConverterDlg {
public:
    void WinHelp(DWORD_PTR data, UINT command) override {
        ++requests;
        lastData = data;
        lastCommand = command;
    }
    int requests = 0;
    DWORD_PTR lastData = 0;
    UINT lastCommand = 0;
};

}  // namespace

TEST(Help, ButtonSystemMenuAndF1AskForTheMainWindowsContext) {
    CHelpWatchingDlg dlg;
    int afterButton = 0, afterMenu = 0;
    RunMainWindow<CHelpWatchingDlg>(
        [&](HWND w) {
            ClickNow(w, ID_HELP);
            afterButton = dlg.requests;
            ::SendMessageA(w, WM_SYSCOMMAND, IDM_HELP, 0);
            afterMenu = dlg.requests;
            for (int attempt = 0; attempt < 10 && dlg.requests == afterMenu; ++attempt) {
                ::SetFocus(Item(w, IDC_ADD));
                PressKey(w, VK_F1);
                PumpDialog(w, 200);
            }
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        nullptr, &dlg);
    EXPECT_EQ(1, afterButton);
    EXPECT_EQ(2, afterMenu);
    EXPECT_EQ(3, dlg.requests);
    EXPECT_EQ(static_cast<DWORD_PTR>(0x20066), dlg.lastData);
    EXPECT_EQ(static_cast<UINT>(HELP_CONTEXT), dlg.lastCommand);
}

TEST(Help, SystemMenuHelpWorksWhileNothingHasTheFocus) {
    // Minimised, the window has no focus, yet its system menu (from the taskbar) offers Help.
    CHelpWatchingDlg dlg;
    HWND focusBefore = reinterpret_cast<HWND>(1);
    RunMainWindow<CHelpWatchingDlg>(
        [&](HWND w) {
            ::SetFocus(nullptr);
            focusBefore = ::GetFocus();
            ::SendMessageA(w, WM_SYSCOMMAND, IDM_HELP, 0);
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        nullptr, &dlg);
    EXPECT_EQ(nullptr, focusBefore);
    EXPECT_EQ(1, dlg.requests);
    EXPECT_EQ(static_cast<DWORD_PTR>(0x20066), dlg.lastData);
}

TEST(Help, F1InTheAboutBoxDoesNothing) {
    CHelpWatchingDlg dlg;
    LRESULT answer = -1;
    RunMainWindow<CHelpWatchingDlg>(
        [&](HWND w) {
            ::SendMessageA(w, WM_SYSCOMMAND, IDM_ABOUT, 0);
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        [&](HWND about) {
            HELPINFO info{sizeof info, HELPINFO_WINDOW, IDOK, Item(about, IDOK), 0, {0, 0}};
            answer = ::SendMessageA(about, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            Click(about, IDOK);
        },
        &dlg);
    EXPECT_EQ(0, answer);
    EXPECT_EQ(0, dlg.requests);
}

TEST(Help, WithoutAHelpFileSaysFailedToLaunchHelp) {
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(theApp.m_strHelpFilePath));
    std::vector<CString> texts;
    CString caption;
    bool stillOpen = false;
    HWND mainWindow = nullptr, owner = nullptr;
    RunMainWindow(
        [&](HWND w) {
            mainWindow = w;
            ClickNow(w, ID_HELP);
            ::SendMessageA(w, WM_SYSCOMMAND, IDM_HELP, 0);
            stillOpen = ::IsWindow(w) && ::IsWindowVisible(w);
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        [&](HWND box) {
            texts.push_back(MessageBoxText(box));
            caption = WindowText(box);
            owner = ::GetWindow(box, GW_OWNER);
            ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        });
    EXPECT_EQ(mainWindow, owner);
    ASSERT_EQ(2u, texts.size());
    EXPECT_STREQ("Failed to launch help.", texts[0]);
    EXPECT_STREQ("Failed to launch help.", texts[1]);
    EXPECT_STREQ("ui_main_test", caption);
    EXPECT_TRUE(stillOpen);
}

TEST(Application, RunsTheMainWindowWithComInitialisedOnlyMeanwhile) {
    HRESULT before = ::CoInitialize(nullptr);
    if (SUCCEEDED(before)) ::CoUninitialize();
    EXPECT_EQ(S_OK, before);

    HRESULT during = E_FAIL;
    HWND mainWindow = nullptr;
    HWND mainObjectWindow = nullptr;
    ModalDriver driver([&](HWND dialog) {
        if (WindowText(dialog) != "Korvane Converter") return;
        mainWindow = dialog;
        mainObjectWindow = AfxGetMainWnd() ? AfxGetMainWnd()->m_hWnd : nullptr;
        during = ::CoInitialize(nullptr);  // S_FALSE: already initialised on this thread
        if (SUCCEEDED(during)) ::CoUninitialize();
        ::PostMessageA(dialog, WM_CLOSE, 0, 0);
    });
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_EQ(S_FALSE, during);
    ASSERT_NE(nullptr, mainWindow);
    EXPECT_EQ(mainWindow, mainObjectWindow);
    EXPECT_EQ(nullptr, AfxGetMainWnd());

    HRESULT after = ::CoInitialize(nullptr);
    if (SUCCEEDED(after)) ::CoUninitialize();
    EXPECT_EQ(S_OK, after);
}

TEST(MainWindow, SelectionTooLargeForTheBufferIsReported) {
    // 140 names of 120 characters do not fit into the 16384-byte result buffer. Windows fails
    // the dialog with FNERR_BUFFERTOOSMALL; Wine returns the list cut off at the buffer's end.
    TestFolder folder("many");
    CString typed;
    for (int i = 0; i < 140; ++i) {
        CString name;
        name.Format("%03d-%s.TiVo", i, std::string(111, 'n').c_str());
        folder.AddFile(name, 1);
        typed += "\"" + name + "\" ";
    }
    CString savedDir = CurrentDirectory();
    ::SetCurrentDirectoryA(folder.Path());
    std::vector<CString> boxes;
    int rows = -1;
    RunMainWindow(
        [&](HWND w) {
            ClickNow(w, IDC_ADD);
            rows = List(w)->GetItemCount();
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        [&](HWND dialog) {
            if (WindowText(dialog) == "Select TiVo Files to Convert") {
                AnswerFileDialog(typed, nullptr)(dialog);
                return;
            }
            boxes.push_back(WindowText(dialog) + ": " + MessageBoxText(dialog));
            ::PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
    ::SetCurrentDirectoryA(savedDir);
    EXPECT_EQ(0, rows);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_STREQ("Too many files: Too many files were chosen at once. Please add them in smaller groups.",
                 boxes[0]);
}

namespace {

// The first descendant window of the class (the new-style browser nests its tree view).
HWND FindDescendant(HWND parent, const char* className) {
    struct Search {
        const char* className;
        HWND found;
    } search{className, nullptr};
    ::EnumChildWindows(
        parent,
        [](HWND child, LPARAM data) -> BOOL {
            Search* s = reinterpret_cast<Search*>(data);
            if (ClassName(child).CompareNoCase(s->className) != 0) return TRUE;
            s->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// True when some descendant window shows exactly this text.
bool HasDescendantWithText(HWND parent, const char* text) {
    struct Search {
        const char* text;
        bool found;
    } search{text, false};
    ::EnumChildWindows(
        parent,
        [](HWND child, LPARAM data) -> BOOL {
            Search* s = reinterpret_cast<Search*>(data);
            s->found = WindowText(child) == s->text;
            return !s->found;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The text of the item selected in the folder browser's tree.
CString BrowserSelection(HWND browser) {
    HWND tree = FindDescendant(browser, WC_TREEVIEWA);
    if (!tree) return CString();
    LPARAM item = ::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    if (!item) return CString();
    char text[MAX_PATH] = "";
    TVITEMA tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = reinterpret_cast<HTREEITEM>(item);
    tv.pszText = text;
    tv.cchTextMax = sizeof text;
    ::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

// Answers the folder browser: OK once its tree shows the folder `name` selected. The browser
// walks down to the folder it was asked to open on one level at a time, and a loaded machine
// may hand it to the test half-way; now and then Wine's browser also stops the walk early
// (the tree stays on the user's folder). A browser that has not reached the folder after 5 s
// is cancelled so that the test can open it again; on the last attempt it gets OK all the
// same, and the test's checks report where it stood.
struct BrowserAnswer {
    CString name;
    bool lastAttempt = false;
    DWORD deadline = 0;
    bool acceptedAtFolder = false;
    CString selections;  // every selection the browser showed, for a failure message
};
BrowserAnswer g_browserAnswer;

void AnswerBrowserOnceSelected(HWND browser, const CString& name, bool lastAttempt) {
    g_browserAnswer.name = name;
    g_browserAnswer.lastAttempt = lastAttempt;
    g_browserAnswer.deadline = ::GetTickCount() + 5000;
    g_browserAnswer.selections += "|";
    ::SetTimer(browser, 0x4252, 50, [](HWND window, UINT, UINT_PTR id, DWORD) {
        BrowserAnswer& answer = g_browserAnswer;
        CString selected = BrowserSelection(window);
        CString entry = selected + ";";
        if (answer.selections.Right(entry.GetLength()) != entry) answer.selections += entry;
        bool atFolder = selected.CompareNoCase(answer.name) == 0;
        bool late = static_cast<LONG>(::GetTickCount() - answer.deadline) >= 0;
        if (!atFolder && !late) return;
        ::KillTimer(window, id);
        answer.acceptedAtFolder = atFolder;
        ::PostMessageA(window, WM_COMMAND, atFolder || answer.lastAttempt ? IDOK : IDCANCEL, 0);
    });
}

}  // namespace

TEST(MainWindow, BrowseOpensOnTheFieldsFolderAndCancelKeepsTheText) {
    TestFolder chosen("browse");
    const CString folderName = chosen.Path().Mid(chosen.Path().ReverseFind('\\') + 1);
    g_browserAnswer = BrowserAnswer();
    CString afterOk, afterCancel;
    bool titleShown = false;
    bool cancelling = false;
    const int kAttempts = 3;
    int attempts = 0;
    int browsers = 0;
    RunMainWindow(
        [&](HWND w) {
            ClickNow(w, IDC_SAME_FOLDER);
            // Answered with OK once the browser shows the field's folder selected.
            while (attempts < kAttempts && !g_browserAnswer.acceptedAtFolder) {
                ++attempts;
                ::SetWindowTextA(Item(w, IDC_OUTPUT_FOLDER), chosen.Path());
                ClickNow(w, IDC_BROWSE);
            }
            afterOk = WindowText(Item(w, IDC_OUTPUT_FOLDER));
            ::SetWindowTextA(Item(w, IDC_OUTPUT_FOLDER), "typed by hand");
            cancelling = true;
            ClickNow(w, IDC_BROWSE);
            afterCancel = WindowText(Item(w, IDC_OUTPUT_FOLDER));
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        [&](HWND browser) {
            ++browsers;
            if (cancelling) {
                ::PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            titleShown = HasDescendantWithText(browser, "Select Output Folder for MPEGs");
            AnswerBrowserOnceSelected(browser, folderName, attempts == kAttempts);
        });
    EXPECT_EQ(attempts + 1, browsers);
    EXPECT_TRUE(titleShown);
    EXPECT_TRUE(g_browserAnswer.acceptedAtFolder) << "selections seen: " << g_browserAnswer.selections;
    EXPECT_EQ(0, afterOk.CompareNoCase(chosen.Path()))
        << afterOk << "; selections seen: " << g_browserAnswer.selections;
    EXPECT_STREQ("typed by hand", afterCancel);
}

namespace {

// The main window with its icon-background erasing observed.
class CPaintWatchingDlg : public CConverterDlg {
public:
    LRESULT OnIconEraseBackground(WPARAM, LPARAM) {
        ++iconErases;
        Default();
        return 0;
    }
    int iconErases = 0;
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CPaintWatchingDlg, CConverterDlg)
    ON_MESSAGE(WM_ICONERASEBKGND, OnIconEraseBackground)
END_MESSAGE_MAP()

}  // namespace

TEST(MainWindow, PaintsItsIconOnlyWhenMinimised) {
    CPaintWatchingDlg dlg;
    int whileNormal = -1, whileMinimised = -1;
    bool iconic = false;
    RunMainWindow<CPaintWatchingDlg>(
        [&](HWND w) {
            // A minimised window has no client area to invalidate here (Wine, like Windows
            // with a taskbar, sends it no WM_PAINT), so the message is sent directly.
            ::SendMessageA(w, WM_PAINT, 0, 0);
            whileNormal = dlg.iconErases;
            ::ShowWindow(w, SW_MINIMIZE);
            iconic = ::IsIconic(w) != FALSE;
            ::SendMessageA(w, WM_PAINT, 0, 0);
            whileMinimised = dlg.iconErases;
            ::ShowWindow(w, SW_RESTORE);
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        nullptr, &dlg);
    EXPECT_EQ(0, whileNormal);
    EXPECT_TRUE(iconic);
    EXPECT_EQ(1, whileMinimised);
}

namespace {

// The push button of a dialog that shows this text and is not hidden (the dialog itself may
// not be visible yet when the test meets it).
HWND ButtonWithText(HWND dialog, const char* text) {
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        bool shown = (::GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE) != 0;
        if (ClassName(child).CompareNoCase("Button") == 0 && shown && WindowText(child) == text) return child;
    }
    return nullptr;
}

// One overwrite question of the progress window: the folder it names and the source's name.
struct OverwriteQuestion {
    CString folder;
    CString name;
};

}  // namespace

TEST(ConvertCommand, HandsOverTheRowsAndTheOutputFolderAndRemovesTheRowsGotThrough) {
    // Every source has an output already, so each file asks the overwrite question, which names
    // the output folder the progress window was given; the answers decide how far a batch gets.
    TestFolder sources("convert-src");
    TestFolder output("convert-out");
    for (const char* name : {"a", "b", "c"}) {
        sources.AddFile(CString(name) + ".TiVo", 10);
        sources.AddFile(CString(name) + ".mpg", 1);
    }
    output.AddFile("c.mpg", 1);
    std::vector<OverwriteQuestion> questions;
    const char* answers[] = {"&No", "&No", "&Cancel", "&No"};
    std::vector<CString> firstBatchRows;
    CString labelAfterFirst, labelAfterSecond;
    int rowsAfterSecond = -1;
    bool removeBeforeSecond = false, removeAfterSecond = true;
    RunMainWindow(
        [&](HWND w) {
            CListCtrl* list = List(w);
            for (const char* name : {"c", "a", "b"})
                AddFileRow(*list, sources.Path() + "\\" + name + ".TiVo");
            ::SendMessageA(w, WM_COMMAND, MAKEWPARAM(IDC_REMOVE, BN_CLICKED),
                           0);  // nothing selected: the label follows
            // Same folder: two files skipped, the third question cancels the batch (index 2).
            ClickNow(w, IDOK);
            firstBatchRows = Column(w, 0);
            labelAfterFirst = WindowText(Item(w, IDC_COUNT_LABEL));

            // An output folder: the one row left is skipped, so the batch gets through it.
            ClickNow(w, IDC_SAME_FOLDER);
            ::SetWindowTextA(Item(w, IDC_OUTPUT_FOLDER), output.Path());
            list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
            removeBeforeSecond = Enabled(w, IDC_REMOVE);
            ClickNow(w, IDOK);
            rowsAfterSecond = list->GetItemCount();
            labelAfterSecond = WindowText(Item(w, IDC_COUNT_LABEL));
            removeAfterSecond = Enabled(w, IDC_REMOVE);
            ::PostMessageA(w, WM_CLOSE, 0, 0);
        },
        [&](HWND dialog) {
            if (WindowText(dialog) != "Overwrite File?") return;  // the progress window itself
            CString text = WindowText(Item(dialog, IDC_CHOICE_TEXT));
            // "<folder>\r\nFolder already contains An MPG file for\r\n<name>\r\n\r\nOverwrite..."
            std::vector<CString> lines;
            for (int start = 0;;) {
                int end = text.Find("\r\n", start);
                lines.push_back(text.Mid(start, end < 0 ? text.GetLength() - start : end - start));
                if (end < 0) break;
                start = end + 2;
            }
            questions.push_back({lines[0], lines.size() > 2 ? lines[2] : CString()});
            size_t answer = std::min(questions.size() - 1, sizeof answers / sizeof answers[0] - 1);
            HWND button = ButtonWithText(dialog, answers[answer]);
            EXPECT_NE(nullptr, button) << answers[answer];
            // The question refuses to close any other way: a missing button still answers.
            ::PostMessageA(button ? button : Item(dialog, IDC_CHOICE_B1), BM_CLICK, 0, 0);
        });

    ASSERT_EQ(4u, questions.size());
    // Row order, which is name order; beside the sources, then in the folder as typed.
    const char* names[] = {"a.TiVo", "b.TiVo", "c.TiVo", "c.TiVo"};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_STREQ(names[i], questions[i].name) << i;
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(0, questions[i].folder.CompareNoCase(sources.Path())) << questions[i].folder;
    EXPECT_STREQ(output.Path(), questions[3].folder);

    // Cancelled at the third file: the first two rows are gone, and the label says so.
    ASSERT_EQ(1u, firstBatchRows.size());
    EXPECT_STREQ("c.TiVo", firstBatchRows[0]);
    EXPECT_STREQ("1 File Selected", labelAfterFirst);
    // Got through the whole batch: the list is empty, the label and "&Remove" follow.
    EXPECT_TRUE(removeBeforeSecond);
    EXPECT_EQ(0, rowsAfterSecond);
    EXPECT_STREQ("0 Files Selected", labelAfterSecond);
    EXPECT_FALSE(removeAfterSecond);
}

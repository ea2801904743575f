// CDialog, message maps, data exchange, window objects and help routing, in-process with a
// real dialog template and real controls.
#include "framework/Framework.h"

#include "ModalDriver.h"
#include "TestIds.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace {

constexpr UINT WM_RUN_SCENARIO = WM_USER + 100;
constexpr UINT kAppCommand = 5000;

// An application that handles ID_HELP (so dialogs show "&Help") and one more command.
class CHelpApp : public CWinApp {
public:
    int appCommands = 0;
    void OnAppCommand() { ++appCommands; }
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CHelpApp, CWinApp)
    ON_COMMAND(ID_HELP, OnHelp)
    ON_COMMAND(kAppCommand, OnAppCommand)
END_MESSAGE_MAP()

// An application without a map of its own.
class CPlainApp : public CWinApp {};

// Runs the test's scenario from inside its own modal loop.
class CScenarioDlg : public CDialog {
public:
    using Scenario = std::function<void(CScenarioDlg&)>;
    explicit CScenarioDlg(Scenario scenario, CWnd* parent = nullptr)
        : CDialog(IDD_FW_TEST, parent), m_scenario(std::move(scenario)) {}

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        PostMessage(WM_RUN_SCENARIO);
        return TRUE;
    }
    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_FW_EDIT, m_edit);
        DDX_Control(pDX, IDC_FW_LIST, m_list);
        DDX_Text(pDX, IDC_FW_EDIT, m_strText);
        DDX_Check(pDX, IDC_FW_CHECK, m_bCheck);
        ++exchanges;
    }
    LRESULT OnRunScenario(WPARAM, LPARAM) {
        m_scenario(*this);
        return 0;
    }
    LRESULT OnBaseOnly(WPARAM, LPARAM) { return 10; }
    LRESULT OnOverridden(WPARAM, LPARAM) { return 11; }
    void OnButton() { ++buttonClicks; }
    void OnListChanged(NMHDR* header, LRESULT* result) {
        ++listChanges;
        lastNotifyId = header->idFrom;
        *result = 0;
    }

    CEdit m_edit;
    CListCtrl m_list;
    CString m_strText;
    BOOL m_bCheck = FALSE;
    int exchanges = 0;
    int buttonClicks = 0;
    int listChanges = 0;
    UINT_PTR lastNotifyId = 0;

    DECLARE_MESSAGE_MAP()

private:
    Scenario m_scenario;
};
BEGIN_MESSAGE_MAP(CScenarioDlg, CDialog)
    ON_MESSAGE(WM_RUN_SCENARIO, OnRunScenario)
    ON_MESSAGE(WM_USER + 10, OnBaseOnly)
    ON_MESSAGE(WM_USER + 11, OnOverridden)
    ON_BN_CLICKED(IDC_FW_BUTTON, OnButton)
    ON_NOTIFY(LVN_ITEMCHANGED, IDC_FW_LIST, OnListChanged)
END_MESSAGE_MAP()

// A derived class: its map comes first, its base's map after it.
class CDerivedDlg : public CScenarioDlg {
public:
    using CScenarioDlg::CScenarioDlg;
    LRESULT OnOverriddenHere(WPARAM, LPARAM) { return 111; }
    LRESULT OnUserTwo(WPARAM wParam, LPARAM lParam) { return static_cast<LRESULT>(wParam) * 1000 + lParam; }
    void OnOK() override {
        ++oks;
        CScenarioDlg::OnOK();
    }
    void OnClose() {
        ++closes;
        Default();
    }
    void WinHelp(DWORD_PTR data, UINT command) override {
        helpData = data;
        helpCommand = command;
    }
    int oks = 0;
    int closes = 0;
    DWORD_PTR helpData = 0;
    UINT helpCommand = 0;
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CDerivedDlg, CScenarioDlg)
    ON_MESSAGE(WM_USER + 11, OnOverriddenHere)
    ON_MESSAGE(WM_USER + 2, OnUserTwo)
    ON_WM_CLOSE()
END_MESSAGE_MAP()

HWND Item(CDialog& dlg, int id) {
    return ::GetDlgItem(dlg.m_hWnd, id);
}

}  // namespace

TEST(MessageMap, DispatchesByMessageCommandAndNotification) {
    CHelpApp app;
    CDerivedDlg dlg([](CScenarioDlg& d) {
        auto& self = static_cast<CDerivedDlg&>(d);
        // Own map first, base map after it.
        EXPECT_EQ(111, self.SendMessage(WM_USER + 11));
        EXPECT_EQ(10, self.SendMessage(WM_USER + 10));
        // A user message's LRESULT comes back to the sender.
        EXPECT_EQ(7042, self.SendMessage(WM_USER + 2, 7, 42));
        EXPECT_EQ(0, self.SendMessage(WM_USER + 3));
        // BN_CLICKED by id, from a real click.
        ClickNow(self.m_hWnd, IDC_FW_BUTTON);
        EXPECT_EQ(1, self.buttonClicks);
        // WM_NOTIFY by code and id: selecting a row makes the list view send LVN_ITEMCHANGED.
        self.m_list.InsertColumn(0, "A", LVCFMT_LEFT, 50);
        self.m_list.InsertItem(0, "row");
        int before = self.listChanges;
        self.m_list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
        EXPECT_GT(self.listChanges, before);
        EXPECT_EQ(static_cast<UINT_PTR>(IDC_FW_LIST), self.lastNotifyId);
        // A command no window handles goes on to the application's map.
        self.SendMessage(WM_COMMAND, kAppCommand);
        EXPECT_EQ(1, static_cast<CHelpApp*>(AfxGetApp())->appCommands);
        // IDOK reaches the virtual OnOK through the base class's map.
        self.SendMessage(WM_COMMAND, IDOK);
    });
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_EQ(1, dlg.oks);
}

TEST(MessageMap, FindsEntriesOnlyForTheirCommandAndCode) {
    CHelpApp app;
    EXPECT_TRUE(app.HandlesCommand(ID_HELP));
    EXPECT_TRUE(app.HandlesCommand(kAppCommand));
    EXPECT_FALSE(app.HandlesCommand(kAppCommand + 1));
    // BN_CLICKED entries answer code 0 only: another notification from the same control is not theirs.
    CScenarioDlg dlg([](CScenarioDlg&) {});
    LRESULT result = 0;
    EXPECT_TRUE(dlg.Dispatch(WM_COMMAND, MAKEWPARAM(IDC_FW_BUTTON, BN_CLICKED), 0, &result));
    EXPECT_FALSE(dlg.Dispatch(WM_COMMAND, MAKEWPARAM(IDC_FW_BUTTON, BN_SETFOCUS), 0, &result));
    EXPECT_FALSE(dlg.Dispatch(WM_COMMAND, MAKEWPARAM(IDC_FW_EDIT, BN_CLICKED), 0, &result));
    EXPECT_EQ(1, dlg.buttonClicks);
}

TEST(Dialog, EndsWithTheCodeGivenAndCancelsOnEscapeAndClose) {
    CPlainApp app;
    CScenarioDlg ended([](CScenarioDlg& d) { d.EndDialog(42); });
    EXPECT_EQ(42, ended.DoModal());

    // Escape: the dialog manager's IDCANCEL, the base OnCancel.
    CScenarioDlg escaped([](CScenarioDlg& d) {
        HWND focus = ::GetFocus();
        ::PostMessageA(focus ? focus : d.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_EQ(IDCANCEL, escaped.DoModal());

    // WM_CLOSE: a handler that asks for default processing lets the dialog manager cancel.
    CDerivedDlg closed([](CScenarioDlg& d) { d.PostMessage(WM_CLOSE); });
    EXPECT_EQ(IDCANCEL, closed.DoModal());
    EXPECT_EQ(1, closed.closes);
}

TEST(Dialog, ReportsATemplateItCannotFindAndStopsExceptions) {
    CPlainApp app;
    CDialog missing(4242);
    EXPECT_EQ(-1, missing.DoModal());

    CScenarioDlg throwing([](CScenarioDlg&) { throw std::runtime_error("handler failed"); });
    EXPECT_EQ(-1, throwing.DoModal());
    EXPECT_EQ(nullptr, throwing.m_hWnd);
}

TEST(DataExchange, MovesValuesBothWaysAndBindsControlsOnce) {
    CPlainApp app;
    HWND editDuringRun = nullptr;
    CScenarioDlg dlg([&](CScenarioDlg& d) {
        // OnInitDialog's first exchange has put the members into the controls.
        EXPECT_STREQ("start", d.GetDlgItemText(IDC_FW_EDIT));
        EXPECT_EQ(BST_CHECKED, ::SendMessageA(Item(d, IDC_FW_CHECK), BM_GETCHECK, 0, 0));
        // Bound objects are the permanent objects of their controls.
        editDuringRun = Item(d, IDC_FW_EDIT);
        EXPECT_EQ(d.m_edit.m_hWnd, editDuringRun);
        EXPECT_EQ(&d.m_edit, CWnd::FromHandle(editDuringRun));
        EXPECT_EQ(&d, CWnd::FromHandle(d.m_hWnd));

        ::SetWindowTextA(editDuringRun, "typed");
        ClickNow(d.m_hWnd, IDC_FW_CHECK);
        d.UpdateData(TRUE);
        EXPECT_STREQ("typed", d.m_strText);
        EXPECT_FALSE(d.m_bCheck);

        d.m_strText = "back";
        d.m_bCheck = TRUE;
        d.UpdateData(FALSE);
        EXPECT_STREQ("back", d.GetDlgItemText(IDC_FW_EDIT));
        EXPECT_EQ(BST_CHECKED, ::SendMessageA(Item(d, IDC_FW_CHECK), BM_GETCHECK, 0, 0));
        EXPECT_EQ(editDuringRun, d.m_edit.m_hWnd);

        // Any other handle gets a temporary object.
        CWnd* temporary = CWnd::FromHandle(Item(d, IDC_FW_STATIC));
        EXPECT_NE(nullptr, temporary);
        EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(Item(d, IDC_FW_STATIC)));
        CString staticText;
        temporary->GetWindowText(staticText);
        EXPECT_STREQ("Static", staticText);
        d.EndDialog(IDOK);
    });
    dlg.m_strText = "start";
    dlg.m_bCheck = TRUE;
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_EQ(nullptr, dlg.m_edit.m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(editDuringRun));
    // The base OnOK was not used, so nothing was read back after the run.
    EXPECT_STREQ("back", dlg.m_strText);
}

TEST(DataExchange, OkReadsTheControlsBackBeforeEnding) {
    CPlainApp app;
    CScenarioDlg dlg([](CScenarioDlg& d) {
        ::SetWindowTextA(Item(d, IDC_FW_EDIT), "from the control");
        d.SendMessage(WM_COMMAND, IDOK);
    });
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_STREQ("from the control", dlg.m_strText);
}

TEST(Help, ButtonShownOnlyWhenTheApplicationHandlesHelp) {
    bool visible = true;
    {
        CPlainApp app;
        CScenarioDlg dlg([&](CScenarioDlg& d) {
            // The dialog itself is shown only once its loop first goes idle: read the button's own style.
            visible = (::GetWindowLongA(Item(d, ID_HELP), GWL_STYLE) & WS_VISIBLE) != 0;
            d.EndDialog(IDOK);
        });
        dlg.DoModal();
    }
    EXPECT_FALSE(visible);
    {
        CHelpApp app;
        CScenarioDlg dlg([&](CScenarioDlg& d) {
            // The dialog itself is shown only once its loop first goes idle: read the button's own style.
            visible = (::GetWindowLongA(Item(d, ID_HELP), GWL_STYLE) & WS_VISIBLE) != 0;
            d.EndDialog(IDOK);
        });
        dlg.DoModal();
    }
    EXPECT_TRUE(visible);
}

TEST(Help, F1AndTheHelpButtonAskTheFocusedDialogForItsContext) {
    CHelpApp app;
    int helpRequests = 0;
    CDerivedDlg dlg([&](CScenarioDlg& d) {
        auto& self = static_cast<CDerivedDlg&>(d);
        ::SetFocus(Item(d, IDC_FW_EDIT));
        // The Help button: ID_HELP to the application, which asks the focus window's dialog.
        ClickNow(d.m_hWnd, ID_HELP);
        EXPECT_EQ(HID_BASE_RESOURCE + IDD_FW_TEST, self.helpData);
        EXPECT_EQ(static_cast<UINT>(HELP_CONTEXT), self.helpCommand);
        helpRequests += self.helpData != 0;

        // WM_HELP (what F1 produces) without modifiers.
        self.helpData = 0;
        HELPINFO info{sizeof info, HELPINFO_WINDOW, IDC_FW_EDIT, Item(d, IDC_FW_EDIT), 0, {0, 0}};
        self.SendMessage(WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        EXPECT_EQ(HID_BASE_RESOURCE + IDD_FW_TEST, self.helpData);
        helpRequests += self.helpData != 0;

        // With Shift held, F1 is not the help command.
        BYTE keys[256];
        ::GetKeyboardState(keys);
        keys[VK_SHIFT] = 0x80;
        ::SetKeyboardState(keys);
        self.helpData = 0;
        self.SendMessage(WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        keys[VK_SHIFT] = 0;
        ::SetKeyboardState(keys);
        EXPECT_EQ(0u, self.helpData);
        d.EndDialog(IDOK);
    });
    app.m_pMainWnd = &dlg;
    dlg.DoModal();
    app.m_pMainWnd = nullptr;
    EXPECT_EQ(2, helpRequests);
}

TEST(Application, NamesItselfAfterTheExecutable) {
    CPlainApp app;
    EXPECT_STREQ("framework_test", app.m_strAppName);
    EXPECT_EQ(app.m_strHelpFilePath.GetLength() - 18, app.m_strHelpFilePath.Find("framework_test.HLP"));
    EXPECT_EQ(&app, AfxGetApp());
}

TEST(Font, DeletesItsFont) {
    LOGFONTA description{};
    description.lfHeight = -11;
    lstrcpynA(description.lfFaceName, "Arial", LF_FACESIZE);
    HFONT handle = nullptr;
    {
        CFont font;
        ASSERT_TRUE(font.CreateFontIndirect(&description));
        handle = font;
        EXPECT_EQ(static_cast<DWORD>(OBJ_FONT), ::GetObjectType(handle));
        // Creating again replaces (and deletes) the first font.
        ASSERT_TRUE(font.CreateFontIndirect(&description));
        EXPECT_EQ(0u, ::GetObjectType(handle));
        handle = font;
    }
    EXPECT_EQ(0u, ::GetObjectType(handle));
}

namespace {

struct CountedUnknown : IUnknown {
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

}  // namespace

TEST(ComPtrOwner, ReleasesExactlyOnce) {
    CountedUnknown object;
    {
        ComPtr<IUnknown> owner = ComPtr<IUnknown>::Adopt(&object);
        ComPtr<IUnknown> moved = std::move(owner);
        EXPECT_FALSE(owner);
        EXPECT_EQ(1u, object.refs);
        moved.Reset();
        EXPECT_EQ(0u, object.refs);
        EXPECT_FALSE(moved);
        object.refs = 1;
        *moved.Out() = &object;
    }
    EXPECT_EQ(0u, object.refs);
}

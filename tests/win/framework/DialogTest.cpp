// CDialog, message maps, data exchange and help routing, in-process with a real dialog
// template and real controls. What the program's own windows make of these is tested with
// them (tests/win/ui_main); here are the cases they never reach.
#include "framework/Framework.h"

#include "DialogScript.h"
#include "TestIds.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

constexpr UINT WM_RUN_SCENARIO = WM_USER + 100;

// An application that handles ID_HELP, so dialogs show "&Help".
class CHelpApp : public CWinApp {
    DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CHelpApp, CWinApp)
    ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

// An application without a map of its own.
class CPlainApp : public CWinApp {};

// Runs the test's scenario from inside its own modal loop.
class CScenarioDlg : public CDialog {
public:
    using Scenario = std::function<void(CScenarioDlg&)>;
    explicit CScenarioDlg(Scenario scenario)
        : CDialog(IDD_FW_TEST, nullptr), m_scenario(std::move(scenario)) {}

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        PostMessage(WM_RUN_SCENARIO);
        return TRUE;
    }
    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_FW_EDIT, m_edit);
        DDX_Text(pDX, IDC_FW_EDIT, m_strText);
        DDX_Check(pDX, IDC_FW_CHECK, m_bCheck);
    }
    LRESULT OnRunScenario(WPARAM, LPARAM) {
        m_scenario(*this);
        return 0;
    }
    void OnButton() { ++m_buttonClicks; }
    void OnClose() {
        ++m_closes;
        Default();
    }
    void WinHelp(DWORD_PTR data, UINT) override { m_helpData = data; }
    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }

    CEdit m_edit;
    CString m_strText;
    BOOL m_bCheck = FALSE;
    int m_buttonClicks = 0;
    int m_closes = 0;
    DWORD_PTR m_helpData = 0;

    DECLARE_MESSAGE_MAP()

private:
    Scenario m_scenario;
};
BEGIN_MESSAGE_MAP(CScenarioDlg, CDialog)
    ON_MESSAGE(WM_RUN_SCENARIO, OnRunScenario)
    ON_BN_CLICKED(IDC_FW_BUTTON, OnButton)
    ON_WM_CLOSE()
END_MESSAGE_MAP()

}  // namespace

TEST(MessageMap, ClickEntriesAnswerTheirControlsClicksOnly) {
    CScenarioDlg dlg(nullptr);
    LRESULT result = 0;
    EXPECT_TRUE(dlg.Dispatch(WM_COMMAND, MAKEWPARAM(IDC_FW_BUTTON, BN_CLICKED), 0, &result));
    EXPECT_FALSE(dlg.Dispatch(WM_COMMAND, MAKEWPARAM(IDC_FW_BUTTON, BN_SETFOCUS), 0, &result));
    EXPECT_FALSE(dlg.Dispatch(WM_COMMAND, MAKEWPARAM(IDC_FW_EDIT, BN_CLICKED), 0, &result));
    EXPECT_EQ(1, dlg.m_buttonClicks);
}

TEST(Dialog, EndsWithTheCodeGivenReportsFailuresAndStopsExceptions) {
    CPlainApp app;
    bool helpShown = true;
    CScenarioDlg ended([&](CScenarioDlg& d) {
        // No "&Help" without an ID_HELP handler. The dialog itself is shown only once its loop
        // first goes idle: read the button's own style.
        helpShown = (::GetWindowLongA(d.Item(ID_HELP), GWL_STYLE) & WS_VISIBLE) != 0;
        d.EndDialog(42);
    });
    EXPECT_EQ(42, ended.DoModal());
    EXPECT_FALSE(helpShown);
    // WM_CLOSE: a handler that asks for default processing lets the dialog manager cancel.
    CScenarioDlg closed([](CScenarioDlg& d) { d.PostMessage(WM_CLOSE); });
    EXPECT_EQ(IDCANCEL, closed.DoModal());
    EXPECT_EQ(1, closed.m_closes);

    CDialog missing(4242);
    EXPECT_EQ(-1, missing.DoModal());
    CScenarioDlg throwing([](CScenarioDlg&) { throw std::runtime_error("handler failed"); });
    EXPECT_EQ(-1, throwing.DoModal());
    EXPECT_EQ(nullptr, throwing.m_hWnd);
}

TEST(DataExchange, MovesValuesBothWaysAndOkReadsTheControlsBack) {
    CPlainApp app;
    HWND edit = nullptr;
    CScenarioDlg dlg([&](CScenarioDlg& d) {
        // OnInitDialog's first exchange has put the members into the controls.
        EXPECT_STREQ("start", d.GetDlgItemText(IDC_FW_EDIT));
        EXPECT_EQ(BST_CHECKED, ::SendMessageA(d.Item(IDC_FW_CHECK), BM_GETCHECK, 0, 0));
        edit = d.m_edit.m_hWnd;
        EXPECT_EQ(d.Item(IDC_FW_EDIT), edit);
        ClickNow(d.m_hWnd, IDC_FW_CHECK);
        d.UpdateData(TRUE);
        EXPECT_FALSE(d.m_bCheck);
        d.m_strText = "back";
        d.UpdateData(FALSE);
        EXPECT_STREQ("back", d.GetDlgItemText(IDC_FW_EDIT));
        EXPECT_EQ(edit, d.m_edit.m_hWnd);  // bound once
        ::SetWindowTextA(edit, "from the control");
        d.SendMessage(WM_COMMAND, IDOK);
    });
    dlg.m_strText = "start";
    dlg.m_bCheck = TRUE;
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_STREQ("from the control", dlg.m_strText);
    EXPECT_EQ(nullptr, dlg.m_edit.m_hWnd);
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(edit));
}

TEST(Help, NoHelpOnShiftF1AndAHelpFileNamedAfterTheProgram) {
    CHelpApp app;
    CScenarioDlg dlg([&](CScenarioDlg& d) {
        HELPINFO info{sizeof info, HELPINFO_WINDOW, IDC_FW_EDIT, d.Item(IDC_FW_EDIT), 0, {0, 0}};
        BYTE keys[256];
        ::GetKeyboardState(keys);
        keys[VK_SHIFT] = 0x80;
        ::SetKeyboardState(keys);
        d.SendMessage(WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        keys[VK_SHIFT] = 0;
        ::SetKeyboardState(keys);
        EXPECT_EQ(0u, d.m_helpData);
        d.SendMessage(WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        EXPECT_EQ(HID_BASE_RESOURCE + IDD_FW_TEST, d.m_helpData);
        d.EndDialog(IDOK);
    });
    app.m_pMainWnd = &dlg;
    dlg.DoModal();
    app.m_pMainWnd = nullptr;
    EXPECT_EQ(app.m_strHelpFilePath.GetLength() - 18, app.m_strHelpFilePath.Find("framework_test.HLP"));
}

TEST(Owners, FontAndComPointerReleaseExactlyOnce) {
    LOGFONTA description{};
    description.lfHeight = -11;
    HFONT first = nullptr, second = nullptr;
    {
        CFont font;
        ASSERT_TRUE(font.CreateFontIndirect(&description));
        first = font;
        ASSERT_TRUE(font.CreateFontIndirect(&description));  // replaces (and deletes) the first
        second = font;
        EXPECT_EQ(0u, ::GetObjectType(first));
    }
    EXPECT_EQ(0u, ::GetObjectType(second));

    struct CountedUnknown : IUnknown {
        ULONG m_refs = 1;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
        ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }
    } object;
    {
        ComPtr<IUnknown> owner = ComPtr<IUnknown>::Adopt(&object);
        ComPtr<IUnknown> moved = std::move(owner);
        EXPECT_FALSE(owner);
        EXPECT_EQ(1u, object.m_refs);
        moved.Reset();
        EXPECT_EQ(0u, object.m_refs);
        object.m_refs = 1;
        *moved.Out() = &object;
    }
    EXPECT_EQ(0u, object.m_refs);
}

// Message maps: one static table per class, one line per message or command, chained to
// the base class's table. A window looks a message up in its own table first, then in its
// base classes' tables; unhandled commands of a dialog go on to the application's table.
//
// Each entry holds a small thunk, instantiated per handler, that casts the target back to
// the class that declared the map and calls the member function with the message's
// arguments unpacked. Handlers are plain (usually non-virtual) member functions.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <type_traits>

class CCmdTarget;
class CWnd;

namespace fw {

// Calls one handler. Returns the message result; the caller has already decided that the
// entry matches. A handler that asks for default processing does so through CWnd::Default.
using MessageThunk = LRESULT (*)(CCmdTarget* target, UINT message, WPARAM wParam, LPARAM lParam);

struct MessageMapEntry {
    UINT message;  // 0 ends the table
    UINT code;     // WM_COMMAND: notification code; WM_NOTIFY: NMHDR code
    UINT id;       // WM_COMMAND / WM_NOTIFY: control or command id
    MessageThunk thunk;
};

struct MessageMap {
    const MessageMap* (*base)();  // null for the root
    const MessageMapEntry* entries;
};

// The first entry of map or its bases that handles the message, or null.
const MessageMapEntry* FindEntry(const MessageMap* map, UINT message, WPARAM wParam, LPARAM lParam);

// Thunks, one per handler shape; F is the handler, the class is taken from its type, so a
// map may name a handler its class inherits (ON_COMMAND(ID_HELP, OnHelp) in an app class).
template <class M>
struct MemberOf;
template <class C, class R, class... A>
struct MemberOf<R (C::*)(A...)> {
    using Class = C;
};
template <auto F>
using HandlerClass = typename MemberOf<decltype(F)>::Class;

template <auto F>
LRESULT Call_v(CCmdTarget* t, UINT, WPARAM, LPARAM) {
    static_assert(std::is_same_v<decltype(F), void (HandlerClass<F>::*)()>, "handler must be void OnX()");
    (static_cast<HandlerClass<F>*>(t)->*F)();
    return 0;
}
template <auto F>
LRESULT Call_SysCommand(CCmdTarget* t, UINT, WPARAM w, LPARAM l) {
    static_assert(std::is_same_v<decltype(F), void (HandlerClass<F>::*)(UINT, LPARAM)>,
                  "void OnSysCommand(UINT, LPARAM)");
    (static_cast<HandlerClass<F>*>(t)->*F)(static_cast<UINT>(w), l);
    return 0;
}
template <auto F>
LRESULT Call_QueryDragIcon(CCmdTarget* t, UINT, WPARAM, LPARAM) {
    static_assert(std::is_same_v<decltype(F), HCURSOR (HandlerClass<F>::*)()>, "HCURSOR OnQueryDragIcon()");
    return reinterpret_cast<LRESULT>((static_cast<HandlerClass<F>*>(t)->*F)());
}
template <auto F>
LRESULT Call_HelpInfo(CCmdTarget* t, UINT, WPARAM, LPARAM l) {
    static_assert(std::is_same_v<decltype(F), BOOL (HandlerClass<F>::*)(HELPINFO*)>,
                  "BOOL OnHelpInfo(HELPINFO*)");
    return (static_cast<HandlerClass<F>*>(t)->*F)(reinterpret_cast<HELPINFO*>(l));
}
template <auto F>
LRESULT Call_Timer(CCmdTarget* t, UINT, WPARAM w, LPARAM) {
    static_assert(std::is_same_v<decltype(F), void (HandlerClass<F>::*)(UINT_PTR)>, "void OnTimer(UINT_PTR)");
    (static_cast<HandlerClass<F>*>(t)->*F)(static_cast<UINT_PTR>(w));
    return 0;
}
template <auto F>
LRESULT Call_Notify(CCmdTarget* t, UINT, WPARAM, LPARAM l) {
    static_assert(std::is_same_v<decltype(F), void (HandlerClass<F>::*)(NMHDR*, LRESULT*)>,
                  "void OnX(NMHDR*, LRESULT*)");
    LRESULT result = 0;
    (static_cast<HandlerClass<F>*>(t)->*F)(reinterpret_cast<NMHDR*>(l), &result);
    return result;
}
template <auto F>
LRESULT Call_Message(CCmdTarget* t, UINT, WPARAM w, LPARAM l) {
    static_assert(std::is_same_v<decltype(F), LRESULT (HandlerClass<F>::*)(WPARAM, LPARAM)>,
                  "LRESULT OnX(WPARAM, LPARAM)");
    return (static_cast<HandlerClass<F>*>(t)->*F)(w, l);
}

}  // namespace fw

// The framework's command-help request (answered by dialogs with their help context).
#define WM_COMMANDHELP 0x0365
// The application's help command (also the id of a dialog's "&Help" button).
#ifndef ID_HELP
#define ID_HELP 57670
#endif
// Dialog help contexts are this base plus the template number.
#define HID_BASE_RESOURCE 0x00020000UL

// In the class declaration.
#define DECLARE_MESSAGE_MAP()                           \
protected:                                              \
    static const ::fw::MessageMap* GetThisMessageMap(); \
    const ::fw::MessageMap* GetMessageMap() const override;

// In the .cpp file: BEGIN_MESSAGE_MAP(CMyDlg, CDialog) ... entries ... END_MESSAGE_MAP()
#define BEGIN_MESSAGE_MAP(theClass, baseClass)                \
    const ::fw::MessageMap* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                           \
    }                                                         \
    const ::fw::MessageMap* theClass::GetThisMessageMap() {   \
        using ThisClass = theClass;                           \
        using TheBaseClass = baseClass;                       \
        static const ::fw::MessageMapEntry entries[] = {
#define END_MESSAGE_MAP()                                                            \
    { 0, 0, 0, nullptr }                                                             \
    }                                                                                \
    ;                                                                                \
    static const ::fw::MessageMap map = {&TheBaseClass::GetThisMessageMap, entries}; \
    return &map;                                                                     \
    }

// Commands and control notifications (WM_COMMAND): void OnX()
#define ON_COMMAND(id, fn) {WM_COMMAND, 0, static_cast<UINT>(id), &::fw::Call_v<&ThisClass::fn>},
#define ON_BN_CLICKED(id, fn) {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), &::fw::Call_v<&ThisClass::fn>},
#define ON_CONTROL(code, id, fn) \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), &::fw::Call_v<&ThisClass::fn>},
// WM_NOTIFY from a control: void OnX(NMHDR* header, LRESULT* result)
#define ON_NOTIFY(code, id, fn) \
    {WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id), &::fw::Call_Notify<&ThisClass::fn>},
// Any message, e.g. a user message: LRESULT OnX(WPARAM, LPARAM)
#define ON_MESSAGE(msg, fn) {static_cast<UINT>(msg), 0, 0, &::fw::Call_Message<&ThisClass::fn>},

// Window messages with fixed handler names.
#define ON_WM_SYSCOMMAND() \
    {WM_SYSCOMMAND, 0, 0,  \
     &::fw::Call_SysCommand<&ThisClass::OnSysCommand>},  // void OnSysCommand(UINT, LPARAM)
#define ON_WM_PAINT() {WM_PAINT, 0, 0, &::fw::Call_v<&ThisClass::OnPaint>},  // void OnPaint()
#define ON_WM_QUERYDRAGICON() \
    {WM_QUERYDRAGICON, 0, 0,  \
     &::fw::Call_QueryDragIcon<&ThisClass::OnQueryDragIcon>},                // HCURSOR OnQueryDragIcon()
#define ON_WM_CLOSE() {WM_CLOSE, 0, 0, &::fw::Call_v<&ThisClass::OnClose>},  // void OnClose()
#define ON_WM_DESTROY() {WM_DESTROY, 0, 0, &::fw::Call_v<&ThisClass::OnDestroy>},  // void OnDestroy()
#define ON_WM_HELPINFO() \
    {WM_HELP, 0, 0, &::fw::Call_HelpInfo<&ThisClass::OnHelpInfo>},               // BOOL OnHelpInfo(HELPINFO*)
#define ON_WM_TIMER() {WM_TIMER, 0, 0, &::fw::Call_Timer<&ThisClass::OnTimer>},  // void OnTimer(UINT_PTR)

// The root of every class with a message map: the application and every window.
class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    virtual const ::fw::MessageMap* GetMessageMap() const { return GetThisMessageMap(); }
    static const ::fw::MessageMap* GetThisMessageMap();

    // Runs the handler of this object's map for the message; false when there is none.
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // True when this object's map (or a base's) handles the command id.
    bool HandlesCommand(UINT id) const;
};

// A thin window layer over Win32 in the manner of the classic C++ framework:
// CCmdTarget with message maps, CWnd wrapping one HWND, window subclassing.
// It holds no state of its own beyond the HWND and the subclassed procedure;
// everything else is the real Win32 call it names.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <type_traits>

#include "RuntimeClass.h"

class CCmdTarget;
class CWnd;
class CDC;

// ---------------------------------------------------------------------------
// Message maps. Each class that handles messages declares DECLARE_MESSAGE_MAP()
// and lists its entries between BEGIN_MESSAGE_MAP and END_MESSAGE_MAP; lookup
// walks the class's entries first, then its base class's.

enum AfxSig : UINT {
    AfxSig_end = 0,
    AfxSig_vv,        // void ()
    AfxSig_vw,        // void (UINT_PTR)              WM_TIMER
    AfxSig_hv,        // HCURSOR ()                   WM_QUERYDRAGICON
    AfxSig_notify,    // void (NMHDR*, LRESULT*)      WM_NOTIFY
    AfxSig_ctlcolor,  // HBRUSH (CDC*, CWnd*, UINT)   WM_CTLCOLOR*
    AfxSig_lwl,       // LRESULT (WPARAM, LPARAM)     any message
};

typedef void (CCmdTarget::*AFX_PMSG)();

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // window message; WM_COMMAND / WM_NOTIFY for controls and menus
    UINT nCode;     // notification code (BN_CLICKED, NM_RCLICK, ...)
    UINT nID;       // control or command id
    AfxSig nSig;    // handler signature
    AFX_PMSG pfn;   // handler, cast to a common type
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                                   \
protected:                                                      \
    static const AFX_MSGMAP* GetThisMessageMap();               \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                  \
    const AFX_MSGMAP* theClass::GetMessageMap() const {         \
        return GetThisMessageMap();                             \
    }                                                           \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {           \
        typedef theClass ThisClass;                             \
        typedef baseClass TheBaseClass;                         \
        static_assert(std::is_base_of<TheBaseClass, ThisClass>::value, \
                      "a message map chains to a base class");  \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                       \
            {0, 0, 0, AfxSig_end, nullptr}                      \
        };                                                      \
        static const AFX_MSGMAP messageMap = {                  \
            &TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
        return &messageMap;                                     \
    }

// Converts a handler between its own member type and the common one. The
// dispatch casts each entry back to exactly the type it was stored from, a
// round trip the language defines; the compiler's warning about casts between
// member-function types of different signatures is therefore off here alone.
template <class To, class From>
inline To AfxHandlerCast(From pfn) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
    return reinterpret_cast<To>(pfn);
#pragma GCC diagnostic pop
}

// The handler is first converted to the base class's member type of its exact
// signature (a compile-time check), then stored in the common type.
#define AFX_HANDLER(sig, fn) AfxHandlerCast<AFX_PMSG>(static_cast<sig>(fn))

#define ON_COMMAND(id, fn) \
    {WM_COMMAND, 0, (UINT)(id), AfxSig_vv, static_cast<AFX_PMSG>(&ThisClass::fn)},
#define ON_BN_CLICKED(id, fn) \
    {WM_COMMAND, BN_CLICKED, (UINT)(id), AfxSig_vv, static_cast<AFX_PMSG>(&ThisClass::fn)},
#define ON_NOTIFY(code, id, fn)                                 \
    {WM_NOTIFY, (UINT)(code), (UINT)(id), AfxSig_notify,        \
     AFX_HANDLER(void (CCmdTarget::*)(NMHDR*, LRESULT*), &ThisClass::fn)},
#define ON_MESSAGE(msg, fn)                                     \
    {(UINT)(msg), 0, 0, AfxSig_lwl,                             \
     AFX_HANDLER(LRESULT (CCmdTarget::*)(WPARAM, LPARAM), &ThisClass::fn)},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, AfxSig_vv, static_cast<AFX_PMSG>(&ThisClass::OnPaint)},
#define ON_WM_CLOSE() {WM_CLOSE, 0, 0, AfxSig_vv, static_cast<AFX_PMSG>(&ThisClass::OnClose)},
#define ON_WM_DESTROY() {WM_DESTROY, 0, 0, AfxSig_vv, static_cast<AFX_PMSG>(&ThisClass::OnDestroy)},
#define ON_WM_TIMER()                                           \
    {WM_TIMER, 0, 0, AfxSig_vw, AFX_HANDLER(void (CCmdTarget::*)(UINT_PTR), &ThisClass::OnTimer)},
#define ON_WM_QUERYDRAGICON()                                   \
    {WM_QUERYDRAGICON, 0, 0, AfxSig_hv,                         \
     AFX_HANDLER(HCURSOR (CCmdTarget::*)(), &ThisClass::OnQueryDragIcon)},
// One entry serves every WM_CTLCOLOR* message; the handler gets CTLCOLOR_*.
#define ON_WM_CTLCOLOR()                                        \
    {WM_CTLCOLORSTATIC, 0, 0, AfxSig_ctlcolor,                  \
     AFX_HANDLER(HBRUSH (CCmdTarget::*)(CDC*, CWnd*, UINT), &ThisClass::OnCtlColor)},

// ---------------------------------------------------------------------------
// Failed handlers. Whatever a handler throws stops at the framework's dispatch
// (commands, window messages, dialog initialisation) and is reported there:
// a CFileException by its own text, running out of memory by
// kAfxOutOfMemoryText, anything else by kAfxUnexpectedFailureText, each in
// an AfxMessageBox with the stop icon. The program goes on.

extern const wchar_t kAfxOutOfMemoryText[];
extern const wchar_t kAfxUnexpectedFailureText[];
// Reports the exception being handled; call only inside a catch block. While
// one report is shown on a thread, further failures there are not reported.
void AfxReportHandlerException();

// ---------------------------------------------------------------------------

class CObject {
public:
    virtual ~CObject() = default;

    // The root of the run-time class chain (RuntimeClass.h).
    static const CRuntimeClass classCObject;
    virtual const CRuntimeClass* GetRuntimeClass() const { return &classCObject; }
    bool IsKindOf(const CRuntimeClass* pClass) const { return GetRuntimeClass()->IsDerivedFrom(pClass); }
};
inline const CRuntimeClass CObject::classCObject = {"CObject", static_cast<int>(sizeof(CObject)), nullptr};

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
public:
    // Dispatches a WM_COMMAND (code, id) through the message maps; true when
    // a handler ran. Whatever the handler throws is reported here.
    virtual bool OnCmdMsg(UINT nCode, UINT nID);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    const AFX_MSGMAP_ENTRY* FindEntry(UINT nMessage, UINT nCode, UINT nID) const;
    friend class CWnd;
};

class CWnd : public CCmdTarget {
    DECLARE_DYNAMIC(CWnd)
public:
    HWND m_hWnd = nullptr;

    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The CWnd attached to a window, or a temporary one owned by the calling
    // thread (valid until that thread ends), as the framework hands out.
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);

    BOOL Attach(HWND hWnd);
    HWND Detach();
    // Routes the window's messages through this object's message map;
    // unhandled ones reach the window's original procedure.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    HWND UnsubclassWindow();

    CWnd* GetDlgItem(int nID) const;
    void SetWindowText(LPCWSTR text) { ::SetWindowTextW(m_hWnd, text); }
    std::wstring GetWindowText() const;
    void GetWindowText(std::wstring& text) const { text = GetWindowText(); }
    BOOL EnableWindow(BOOL bEnable = TRUE) { return ::EnableWindow(m_hWnd, bEnable); }
    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::SendMessageW(m_hWnd, msg, wp, lp); }
    BOOL PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::PostMessageW(m_hWnd, msg, wp, lp); }
    void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
    HDC GetDC() const { return ::GetDC(m_hWnd); }
    int ReleaseDC(HDC hdc) const { return ::ReleaseDC(m_hWnd, hdc); }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse) { return ::SetTimer(m_hWnd, id, elapse, nullptr); }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    void InvalidateRect(const RECT* rect, BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, rect, bErase); }
    BOOL SetWindowPos(HWND after, int x, int y, int cx, int cy, UINT flags) {
        return ::SetWindowPos(m_hWnd, after, x, y, cx, cy, flags);
    }
    HICON SetIcon(HICON hIcon, BOOL bBigIcon) {
        return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bBigIcon, reinterpret_cast<LPARAM>(hIcon)));
    }
    void SetFont(HFONT hFont, BOOL bRedraw = TRUE) {
        SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(hFont), bRedraw);
    }

    // Window procedure of this object: the message map first, then Default().
    virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);
    // The original processing of the message being handled on this thread.
    LRESULT Default();

    // Default handlers; each passes the message on to the original procedure.
    void OnPaint() { Default(); }
    void OnClose() { Default(); }
    void OnDestroy() { Default(); }
    void OnTimer(UINT_PTR) { Default(); }
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);

protected:
    bool OnWndMsg(UINT msg, WPARAM wp, LPARAM lp, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT msg, WPARAM wp, LPARAM lp);
    // Called after the window's last message (WM_NCDESTROY) was handled.
    virtual void PostNcDestroy() {}

    WNDPROC m_pfnSuper = nullptr;  // the procedure replaced by subclassing
    static LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp);

    DECLARE_MESSAGE_MAP()
};
IMPLEMENT_DYNAMIC_INLINE(CCmdTarget, CObject)
IMPLEMENT_DYNAMIC_INLINE(CWnd, CCmdTarget)

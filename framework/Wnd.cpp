#include "Wnd.h"

#include <new>
#include <unordered_map>

#include "File.h"
#include "Gdi.h"
#include "WinApp.h"

namespace {

// The permanent CWnd of every attached HWND. A table in the process rather
// than a window property: the window procedure looks a window up for every
// message, and under Wine each property lookup is a request to its server.
// An entry goes when its CWnd detaches, which a subclassed window does at
// WM_NCDESTROY and any CWnd does when it is destroyed.
SRWLOCK g_permanentLock = SRWLOCK_INIT;
std::unordered_map<HWND, CWnd*>& PermanentWindows() {
    static auto* map = new std::unordered_map<HWND, CWnd*>;
    return *map;
}

// The message being handled on this thread, for Default().
struct CurrentMessage {
    CWnd* wnd;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};
thread_local CurrentMessage t_current{nullptr, 0, 0, 0};

// Temporary wrappers handed out by FromHandle for windows nobody attached.
// Process-wide and never freed, so a wrapper stays valid on any thread (a
// wrapper is only an HWND value).
SRWLOCK g_temporaryLock = SRWLOCK_INIT;
std::unordered_map<HWND, CWnd*>& TemporaryWrappers() {
    static auto* map = new std::unordered_map<HWND, CWnd*>;
    return *map;
}

// Set while this thread shows the report of a failed handler: handlers that
// fail again meanwhile (a timer, a repaint under the box) add no second box.
thread_local bool t_reportingFailure = false;

}  // namespace

const wchar_t kAfxOutOfMemoryText[] = L"内存不足，操作未能完成。";
const wchar_t kAfxUnexpectedFailureText[] = L"程序内部发生意外错误，操作未能完成。";

void AfxReportHandlerException() {
    const bool show = !t_reportingFailure;
    t_reportingFailure = true;
    try {
        throw;
    } catch (CFileException* ex) {
        if (show) ex->ReportError();
        ex->Delete();
    } catch (const std::bad_alloc&) {
        if (show) AfxMessageBox(kAfxOutOfMemoryText, MB_OK | MB_ICONSTOP);
    } catch (...) {
        if (show) AfxMessageBox(kAfxUnexpectedFailureText, MB_OK | MB_ICONSTOP);
    }
    if (show) t_reportingFailure = false;
}

// ---------------------------------------------------------------------------
// CCmdTarget

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, AfxSig_end, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP_ENTRY* CCmdTarget::FindEntry(UINT nMessage, UINT nCode, UINT nID) const {
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nSig != AfxSig_end; ++e) {
            if (e->nMessage == nMessage && e->nCode == nCode && e->nID == nID) return e;
        }
    }
    return nullptr;
}

bool CCmdTarget::OnCmdMsg(UINT nCode, UINT nID) {
    const AFX_MSGMAP_ENTRY* e = FindEntry(WM_COMMAND, nCode, nID);
    if (e == nullptr) return false;
    // The program's handlers report failed file operations by throwing; the
    // framework shows the report and the command simply ends. Whatever else
    // a handler lets through ends the command the same way, never the program.
    try {
        (this->*e->pfn)();
    } catch (...) {
        AfxReportHandlerException();
    }
    return true;
}

// ---------------------------------------------------------------------------
// CWnd

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd() {
    if (m_hWnd != nullptr && FromHandlePermanent(m_hWnd) == this) UnsubclassWindow();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (hWnd == nullptr) return nullptr;
    ::AcquireSRWLockShared(&g_permanentLock);
    const auto& map = PermanentWindows();
    const auto it = map.find(hWnd);
    CWnd* wnd = it != map.end() ? it->second : nullptr;
    ::ReleaseSRWLockShared(&g_permanentLock);
    return wnd;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (hWnd == nullptr) return nullptr;
    if (CWnd* p = FromHandlePermanent(hWnd)) return p;
    ::AcquireSRWLockExclusive(&g_temporaryLock);
    CWnd*& slot = TemporaryWrappers()[hWnd];
    if (slot == nullptr) {
        slot = new CWnd;
        slot->m_hWnd = hWnd;
    }
    CWnd* wrapper = slot;
    ::ReleaseSRWLockExclusive(&g_temporaryLock);
    return wrapper;
}

BOOL CWnd::Attach(HWND hWnd) {
    if (hWnd == nullptr || !::IsWindow(hWnd)) return FALSE;
    ::AcquireSRWLockExclusive(&g_permanentLock);
    const bool added = PermanentWindows().emplace(hWnd, this).second;
    ::ReleaseSRWLockExclusive(&g_permanentLock);
    if (!added) return FALSE;
    m_hWnd = hWnd;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND h = m_hWnd;
    if (h != nullptr) {
        ::AcquireSRWLockExclusive(&g_permanentLock);
        auto& map = PermanentWindows();
        const auto it = map.find(h);
        if (it != map.end() && it->second == this) map.erase(it);
        ::ReleaseSRWLockExclusive(&g_permanentLock);
    }
    m_hWnd = nullptr;
    return h;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!Attach(hWnd)) return FALSE;
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::AfxWndProc)));
    if (m_pfnSuper == nullptr) {
        Detach();
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
    HWND h = ::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID));
    return h != nullptr && SubclassWindow(h);
}

HWND CWnd::UnsubclassWindow() {
    if (m_pfnSuper != nullptr && m_hWnd != nullptr) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    }
    m_pfnSuper = nullptr;
    return Detach();
}

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }

std::wstring CWnd::GetWindowText() const {
    int len = ::GetWindowTextLengthW(m_hWnd);
    std::wstring text(static_cast<size_t>(len) + 1, L'\0');
    int got = ::GetWindowTextW(m_hWnd, &text[0], len + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wp, LPARAM lp) {
    if (m_pfnSuper != nullptr) return ::CallWindowProcW(m_pfnSuper, m_hWnd, msg, wp, lp);
    return ::DefWindowProcW(m_hWnd, msg, wp, lp);
}

LRESULT CWnd::Default() {
    const CurrentMessage& cur = t_current;
    return DefWindowProc(cur.msg, cur.wp, cur.lp);
}

HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) { return reinterpret_cast<HBRUSH>(Default()); }

LRESULT CWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result = 0;
    if (OnWndMsg(msg, wp, lp, &result)) return result;
    return DefWindowProc(msg, wp, lp);
}

bool CWnd::OnWndMsg(UINT msg, WPARAM wp, LPARAM lp, LRESULT* pResult) {
    *pResult = 0;
    if (msg == WM_COMMAND) {
        UINT code = HIWORD(wp), id = LOWORD(wp);
        if (OnCmdMsg(code, id)) return true;
        CWinApp* app = AfxGetApp();
        return app != nullptr && app->OnCmdMsg(code, id);
    }
    if (msg == WM_NOTIFY) {
        static_assert(sizeof(NMHDR) == (sizeof(void*) == 4 ? 12 : 24), "NMHDR layout");
        NMHDR* hdr = reinterpret_cast<NMHDR*>(lp);
        const AFX_MSGMAP_ENTRY* e = FindEntry(WM_NOTIFY, hdr->code, static_cast<UINT>(hdr->idFrom));
        if (e == nullptr) return false;
        auto fn = AfxHandlerCast<void (CCmdTarget::*)(NMHDR*, LRESULT*)>(e->pfn);
        (this->*fn)(hdr, pResult);
        return true;
    }
    if (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC) {
        const AFX_MSGMAP_ENTRY* e = FindEntry(WM_CTLCOLORSTATIC, 0, 0);
        if (e == nullptr) return false;
        auto fn = AfxHandlerCast<HBRUSH (CCmdTarget::*)(CDC*, CWnd*, UINT)>(e->pfn);
        CDC dc(reinterpret_cast<HDC>(wp));
        HBRUSH brush = (this->*fn)(&dc, FromHandle(reinterpret_cast<HWND>(lp)),
                                   msg - WM_CTLCOLORMSGBOX);
        *pResult = reinterpret_cast<LRESULT>(brush);
        return true;
    }
    const AFX_MSGMAP_ENTRY* e = FindEntry(msg, 0, 0);
    if (e == nullptr) return false;
    switch (e->nSig) {
    case AfxSig_vv:
        (this->*e->pfn)();
        break;
    case AfxSig_vw:
        (this->*AfxHandlerCast<void (CCmdTarget::*)(UINT_PTR)>(e->pfn))(wp);
        break;
    case AfxSig_hv:
        *pResult = reinterpret_cast<LRESULT>((this->*AfxHandlerCast<HCURSOR (CCmdTarget::*)()>(e->pfn))());
        break;
    case AfxSig_lwl:
        *pResult = (this->*AfxHandlerCast<LRESULT (CCmdTarget::*)(WPARAM, LPARAM)>(e->pfn))(wp, lp);
        break;
    default:
        return false;
    }
    return true;
}

LRESULT CALLBACK CWnd::AfxWndProc(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp) {
    CWnd* wnd = FromHandlePermanent(hWnd);
    if (wnd == nullptr) return ::DefWindowProcW(hWnd, msg, wp, lp);
    CurrentMessage saved = t_current;
    t_current = {wnd, msg, wp, lp};
    LRESULT result = 0;
    // An exception must not unwind into the window system's frames (it would
    // end the process): it is reported here and the message counts as handled.
    try {
        result = wnd->WindowProc(msg, wp, lp);
    } catch (...) {
        AfxReportHandlerException();
        if (msg == WM_CREATE) result = -1;  // the window is not created
        // A paint that failed leaves the area invalid: it would come back at once.
        if (msg == WM_PAINT) ::ValidateRect(hWnd, nullptr);
    }
    t_current = saved;
    if (msg == WM_NCDESTROY) {
        // The window is gone: give the object back its unattached state.
        wnd->UnsubclassWindow();
        wnd->PostNcDestroy();
    }
    return result;
}

// ---------------------------------------------------------------------------
// CPaintDC

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWndPaint(pWnd->m_hWnd) {
    m_hDC = ::BeginPaint(m_hWndPaint, &m_ps);
}

CPaintDC::~CPaintDC() { ::EndPaint(m_hWndPaint, &m_ps); }

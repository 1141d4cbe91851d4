#include "Controls.h"

#include <unordered_map>

#include "WinApp.h"

// The list view reads these by their size for the version the headers name
// (_WIN32_WINNT 0x0601, with the group and column fields); the 32-bit layout
// is the release's and cannot be seen in the 64-bit run.
constexpr bool kPointers32 = sizeof(void*) == 4;
static_assert(sizeof(LVITEMW) == (kPointers32 ? 60 : 88), "LVITEMW layout");
static_assert(sizeof(LVCOLUMNW) == (kPointers32 ? 44 : 56), "LVCOLUMNW layout");

int CListCtrl::InsertColumn(int nCol, LPCWSTR heading, int nFormat, int nWidth) {
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    col.fmt = nFormat;
    col.cx = nWidth;
    col.pszText = const_cast<LPWSTR>(heading);
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, static_cast<WPARAM>(nCol),
                                        reinterpret_cast<LPARAM>(&col)));
}

int CListCtrl::InsertItem(int nItem, LPCWSTR text) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = nItem;
    item.pszText = const_cast<LPWSTR>(text);
    return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, LPCWSTR text) {
    LVITEMW item{};
    item.iSubItem = nSubItem;
    item.pszText = const_cast<LPWSTR>(text);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, static_cast<WPARAM>(nItem),
                                         reinterpret_cast<LPARAM>(&item)));
}

std::wstring CListCtrl::GetItemText(int nItem, int nSubItem) const {
    // The control copies at most the buffer's size less one; grow until the
    // text comes back shorter than that, so no text is ever cut.
    std::wstring buffer;
    for (size_t size = 256;; size *= 2) {
        buffer.assign(size, L'\0');
        LVITEMW item{};
        item.iSubItem = nSubItem;
        item.pszText = &buffer[0];
        item.cchTextMax = static_cast<int>(size);
        LRESULT len = SendMessage(LVM_GETITEMTEXTW, static_cast<WPARAM>(nItem),
                                  reinterpret_cast<LPARAM>(&item));
        if (len < 0) len = 0;
        if (static_cast<size_t>(len) < size - 1 || size >= (1u << 24)) {
            buffer.resize(static_cast<size_t>(len));
            return buffer;
        }
    }
}

BOOL CListCtrl::SetItemState(int nItem, UINT nState, UINT nMask) {
    LVITEMW item{};
    item.state = nState;
    item.stateMask = nMask;
    return static_cast<BOOL>(SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(nItem),
                                         reinterpret_cast<LPARAM>(&item)));
}

BOOL CMenu::LoadMenu(UINT nIDResource) {
    return Attach(::LoadMenuW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIDResource)));
}

BOOL CMenu::Attach(HMENU hMenu) {
    if (hMenu == nullptr) return FALSE;
    DestroyMenu();
    m_hMenu = hMenu;
    m_bOwned = true;
    return TRUE;
}

HMENU CMenu::Detach() {
    HMENU h = m_hMenu;
    m_hMenu = nullptr;
    return h;
}

BOOL CMenu::DestroyMenu() {
    BOOL ok = TRUE;
    if (m_hMenu != nullptr && m_bOwned) ok = ::DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
    return ok;
}

CMenu* CMenu::GetSubMenu(int nPos) const {
    HMENU sub = ::GetSubMenu(m_hMenu, nPos);
    if (sub == nullptr) return nullptr;
    // A pop-up belongs to its parent menu, which destroys it; the wrapper
    // only carries the handle and lives as long as the process.
    static SRWLOCK lock = SRWLOCK_INIT;
    static auto* wrappers = new std::unordered_map<HMENU, CMenu*>;
    ::AcquireSRWLockExclusive(&lock);
    CMenu*& slot = (*wrappers)[sub];
    if (slot == nullptr) {
        slot = new CMenu;
        slot->m_hMenu = sub;
        slot->m_bOwned = false;
    }
    CMenu* wrapper = slot;
    ::ReleaseSRWLockExclusive(&lock);
    return wrapper;
}

// Common controls and menus as thin wrappers over their window messages.
#pragma once
#include <string>

#include "Wnd.h"

class CStatic : public CWnd {};
class CEdit : public CWnd {};
class CButton : public CWnd {};

// The list-view control in report view.
class CListCtrl : public CWnd {
public:
    DWORD SetExtendedStyle(DWORD dwNewStyle) {
        return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, dwNewStyle));
    }
    DWORD GetExtendedStyle() const {
        return static_cast<DWORD>(SendMessage(LVM_GETEXTENDEDLISTVIEWSTYLE));
    }
    int InsertColumn(int nCol, LPCWSTR heading, int nFormat, int nWidth);
    int InsertItem(int nItem, LPCWSTR text);
    BOOL SetItemText(int nItem, int nSubItem, LPCWSTR text);
    // The whole text of a cell, however long.
    std::wstring GetItemText(int nItem, int nSubItem) const;
    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
    UINT GetSelectedCount() const { return static_cast<UINT>(SendMessage(LVM_GETSELECTEDCOUNT)); }
    BOOL DeleteItem(int nItem) { return static_cast<BOOL>(SendMessage(LVM_DELETEITEM, static_cast<WPARAM>(nItem))); }
    BOOL DeleteAllItems() { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }
    UINT GetItemState(int nItem, UINT nMask) const {
        return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(nItem), nMask));
    }
    BOOL SetItemState(int nItem, UINT nState, UINT nMask);
    // Check boxes are state images: 1 unchecked, 2 checked.
    BOOL GetCheck(int nItem) const {
        return ((GetItemState(nItem, LVIS_STATEIMAGEMASK) >> 12) - 1) == 1;
    }
    BOOL SetCheck(int nItem, BOOL bCheck = TRUE) {
        return SetItemState(nItem, INDEXTOSTATEIMAGEMASK(bCheck ? 2 : 1), LVIS_STATEIMAGEMASK);
    }
};

// Owns one menu handle and destroys it with the object.
class CMenu {
public:
    HMENU m_hMenu = nullptr;
    CMenu() = default;
    ~CMenu() { DestroyMenu(); }
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    BOOL LoadMenu(UINT nIDResource);
    BOOL Attach(HMENU hMenu);
    HMENU Detach();
    BOOL DestroyMenu();
    HMENU GetSafeHmenu() const { return m_hMenu; }
    // The pop-up at a position, as a wrapper that does not own it.
    CMenu* GetSubMenu(int nPos) const;
    UINT EnableMenuItem(UINT nIDEnableItem, UINT nEnable) {
        return ::EnableMenuItem(m_hMenu, nIDEnableItem, nEnable);
    }
    UINT GetMenuState(UINT nID, UINT nFlags) const { return ::GetMenuState(m_hMenu, nID, nFlags); }
    BOOL TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd) {
        return ::TrackPopupMenu(m_hMenu, nFlags, x, y, 0, pWnd->m_hWnd, nullptr);
    }

private:
    bool m_bOwned = true;
};

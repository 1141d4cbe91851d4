// The About box: the maker's logo, the product name and version, and the
// maker's addresses shown as blue underlined text in read-only fields.
#pragma once
#include "Afx.h"

// The addresses shown in the box (the two mailbox fields show the same one).
extern const wchar_t kKorvaneSupportMail[];
extern const wchar_t kKorvaneWebSite[];

class CVestrelDlg;

class CKorvaneAbout : public CDialog {
    DECLARE_DYNAMIC(CKorvaneAbout)
public:
    // Shown for the main dialog pMain; with none given, for the application's
    // main window, which is the main dialog.
    explicit CKorvaneAbout(CVestrelDlg* pMain = nullptr);
    ~CKorvaneAbout() override;

    // Runs the box; when it has closed, however it closed, the update notice
    // of the main dialog that owns it ends, while this object still exists.
    INT_PTR DoModal() override;

    // The link font of the three address fields; owned by the box while it
    // is open, null otherwise.
    CFont* m_pLinkFont = nullptr;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    // The box can also end through Escape or the system's close: the font
    // goes with the window whichever way it ends.
    void PostNcDestroy() override;

private:
    void ReleaseLinkFont();

    DECLARE_MESSAGE_MAP()
};

#include "KorvaneAbout.h"

#include "UpdateLaunch.h"
#include "VestrelDlg.h"
#include "resource.h"

const wchar_t kKorvaneSupportMail[] = L"support@korvane.example";
const wchar_t kKorvaneWebSite[] = L"http://www.korvane.example/";

namespace {
const COLORREF kLinkColour = 0x00FF0000;  // blue
const int kLinkFields[] = {IDC_EDIT_SUPPORT_MAIL, IDC_EDIT_SAMPLE_MAIL, IDC_EDIT_WEBSITE};

bool IsLinkField(HWND hwnd) {
    if (hwnd == nullptr) return false;
    int id = ::GetDlgCtrlID(hwnd);
    for (int field : kLinkFields) {
        if (id == field) return true;
    }
    return false;
}
}  // namespace

IMPLEMENT_DYNAMIC(CKorvaneAbout, CDialog)

BEGIN_MESSAGE_MAP(CKorvaneAbout, CDialog)
    ON_COMMAND(IDOK, OnOK)
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CKorvaneAbout::CKorvaneAbout(CVestrelDlg* pMain) : CDialog(IDD_ABOUTBOX, pMain) {}

INT_PTR CKorvaneAbout::DoModal() {
    INT_PTR result = CDialog::DoModal();
    // The parent is a main dialog when one was given; otherwise the
    // application's main window is the main dialog, if there is one.
    CWnd* owner = m_pParentWnd != nullptr ? m_pParentWnd : AfxGetMainWnd();
    if (owner != nullptr) EndUpdateNotice(static_cast<CVestrelDlg*>(owner));
    return result;
}

CKorvaneAbout::~CKorvaneAbout() { ReleaseLinkFont(); }

BOOL CKorvaneAbout::OnInitDialog() {
    CDialog::OnInitDialog();
    ::SetDlgItemTextW(m_hWnd, IDC_EDIT_SUPPORT_MAIL, kKorvaneSupportMail);
    ::SetDlgItemTextW(m_hWnd, IDC_EDIT_SAMPLE_MAIL, kKorvaneSupportMail);
    ::SetDlgItemTextW(m_hWnd, IDC_EDIT_WEBSITE, kKorvaneWebSite);

    ReleaseLinkFont();
    m_pLinkFont = new CFont;
    m_pLinkFont->CreateFont(16, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, 0, L"宋体");
    for (int field : kLinkFields) {
        ::SendMessageW(::GetDlgItem(m_hWnd, field), WM_SETFONT,
                       reinterpret_cast<WPARAM>(static_cast<HFONT>(*m_pLinkFont)), FALSE);
    }
    return TRUE;
}

HBRUSH CKorvaneAbout::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor) {
    HBRUSH brush = CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
    if (pWnd != nullptr && IsLinkField(pWnd->m_hWnd)) pDC->SetTextColor(kLinkColour);
    return brush;
}

void CKorvaneAbout::OnOK() {
    ReleaseLinkFont();
    CDialog::OnOK();
}

void CKorvaneAbout::PostNcDestroy() {
    ReleaseLinkFont();
    CDialog::PostNcDestroy();
}

void CKorvaneAbout::ReleaseLinkFont() {
    if (m_pLinkFont == nullptr) return;
    // The fields fall back to the dialog font first, so none of them keeps
    // painting with a handle that is about to be deleted.
    if (m_hWnd != nullptr) {
        for (int field : kLinkFields) {
            HWND item = ::GetDlgItem(m_hWnd, field);
            if (item != nullptr) ::SendMessageW(item, WM_SETFONT, 0, FALSE);
        }
    }
    delete m_pLinkFont;
    m_pLinkFont = nullptr;
}

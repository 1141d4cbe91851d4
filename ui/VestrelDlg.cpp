#include "VestrelDlg.h"

#include <shlobj.h>

#include "KorvaneAbout.h"
#include "UpdateLaunch.h"
#include "resource.h"

CVestrelDlg::CVestrelDlg()
    : CDialog(IDD_VESTREL_DIALOG),
      m_hIcon(::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

CVestrelDlg::~CVestrelDlg() = default;

void CVestrelDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LIST_RESULT, m_listResult);
    DDX_Control(pDX, IDC_PICTURE_ANIMATION, m_picture);
}

BEGIN_MESSAGE_MAP(CVestrelDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_RADIO_SYSTEMDIR, OnRadioSystemDir)
    ON_BN_CLICKED(IDC_RADIO_ALLDRIVES, OnRadioAllDrives)
    ON_BN_CLICKED(IDC_RADIO_FOLDER, OnRadioFolder)
    ON_BN_CLICKED(IDC_BUTTON_SCAN, OnScan)
    ON_BN_CLICKED(IDC_BUTTON_BROWSE, OnBrowseFolder)
    ON_BN_CLICKED(IDC_BUTTON_STOP, OnStop)
    ON_WM_CLOSE()
    ON_NOTIFY(NM_RCLICK, IDC_LIST_RESULT, OnRclickResultList)
    ON_COMMAND(ID_VIEW_STREAM, OnViewStream)
    ON_COMMAND(ID_CHECK_ALL, OnCheckAll)
    ON_COMMAND(ID_UNCHECK_ALL, OnUncheckAll)
    ON_COMMAND(ID_DELETE_SELECTED, OnDeleteSelectedStream)
    ON_COMMAND(ID_DELETE_ALL, OnDeleteAllStreams)
    ON_COMMAND(ID_SAVE_SCAN_LOG, OnSaveScanLog)
    ON_BN_CLICKED(IDC_BUTTON_ABOUT, OnAbout)
    ON_WM_TIMER()
    ON_MESSAGE(WM_SCAN_REQUEST, OnScanRequestMessage)
    ON_MESSAGE(WM_UPDATE_NOTICE, OnUpdateNotice)
END_MESSAGE_MAP()

BOOL CVestrelDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    AttachScanWindow(m_hWnd);

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    StartTitleBanner();

    GetDlgItem(IDC_RADIO_SYSTEMDIR)->SendMessage(BM_SETCHECK, BST_CHECKED);
    m_nScanMode = kScanSystemDir;
    GetDlgItem(IDC_STATIC_STATUS)->SetWindowText(L"等待用户操作！");
    GetDlgItem(IDC_BUTTON_STOP)->EnableWindow(FALSE);

    m_listResult.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                             LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    m_listResult.InsertColumn(0, L"\x3000NTFS数据流名称", LVCFMT_LEFT, 150);
    m_listResult.InsertColumn(1, L" NTFS数据流大小(字节) ", LVCFMT_CENTER, 145);
    m_listResult.InsertColumn(2, L"\x3000\x3000\x3000文\x3000\x3000\x3000件\x3000\x3000\x3000路\x3000\x3000\x3000径",
                              LVCFMT_LEFT, 400);
    m_menuContext.LoadMenu(IDR_CONTEXT_MENU);

    // The updater runs once per start, in the background; nobody waits for it.
    HANDLE update = ::CreateThread(nullptr, 0, UpdateThreadProc, this, 0, nullptr);
    if (update != nullptr) ::CloseHandle(update);
    return TRUE;
}

void CVestrelDlg::OnPaint() {
    if (IsIconic()) {
        CPaintDC dc(this);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
        int cxIcon = ::GetSystemMetrics(SM_CXICON);
        int cyIcon = ::GetSystemMetrics(SM_CYICON);
        RECT rect;
        GetClientRect(&rect);
        int x = (rect.right - rect.left - cxIcon + 1) / 2;
        int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
        ::DrawIcon(dc, x, y, m_hIcon);
    } else {
        CDialog::OnPaint();
    }
}

HCURSOR CVestrelDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CVestrelDlg::OnRadioSystemDir() { m_nScanMode = kScanSystemDir; }
void CVestrelDlg::OnRadioAllDrives() { m_nScanMode = kScanAllDrives; }
void CVestrelDlg::OnRadioFolder() { m_nScanMode = kScanFolder; }

void CVestrelDlg::OnScan() { BeginScan(m_nScanMode); }

void CVestrelDlg::OnStop() { StopScan(); }

void CVestrelDlg::OnClose() {
    CloseScan();
    CDialog::OnClose();
}

void CVestrelDlg::OnOK() {
    CloseScan();
    CDialog::OnOK();
}

void CVestrelDlg::OnCancel() {
    CloseScan();
    CDialog::OnCancel();
}

LRESULT CVestrelDlg::OnScanRequestMessage(WPARAM wParam, LPARAM lParam) {
    return OnScanRequest(wParam, lParam);
}

void CVestrelDlg::OnBrowseFolder() {
    wchar_t displayName[780];
    wchar_t path[780];
    BROWSEINFOW bi{};
    bi.hwndOwner = m_hWnd;
    bi.pidlRoot = nullptr;
    bi.pszDisplayName = displayName;
    bi.lpszTitle = L"请选择目标文件夹";
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    path[0] = L'\0';
    LPITEMIDLIST pidl = ::SHBrowseForFolderW(&bi);
    if (pidl == nullptr) return;
    // MAX_PATH suffices for the conversion; the buffer is larger.
    if (!::SHGetPathFromIDListW(pidl, path)) path[0] = L'\0';
    ::CoTaskMemFree(pidl);
    GetDlgItem(IDC_EDIT_FOLDER)->SetWindowText(path);
}

// The title banner: the animation plays first; timer 2 swaps in the still
// banner after 1667 ms, once.
void CVestrelDlg::StartTitleBanner() {
    GetDlgItem(IDC_PICTURE_BANNER)->ShowWindow(SW_HIDE);
    if (m_picture.LoadFromResource(MAKEINTRESOURCEW(IDR_BANNER_GIF), L"gif")) m_picture.Show();
    SetTimer(kBannerTimer, 1667);
}

void CVestrelDlg::SwapTitleBanner() {
    GetDlgItem(IDC_PICTURE_BANNER)->ShowWindow(SW_SHOW);
    GetDlgItem(IDC_PICTURE_ANIMATION)->ShowWindow(SW_HIDE);
    KillTimer(kBannerTimer);
}

void CVestrelDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kBannerTimer) SwapTitleBanner();
    if (m_bUpdateNotice != 0 && nIDEvent == kUpdateTimer) UpdateNoticeTick(this);
    CDialog::OnTimer(nIDEvent);
}

LRESULT CVestrelDlg::OnUpdateNotice(WPARAM, LPARAM) {
    BeginUpdateNotice(this);
    return 0;
}

void CVestrelDlg::OnAbout() {
    // The box ends the update notice when it closes, before it is destroyed.
    CKorvaneAbout about(this);
    about.DoModal();
}

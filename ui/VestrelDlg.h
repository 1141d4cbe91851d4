// The main window: scope choice, Scan/Stop/About, the result list and the
// status line. It is also the scan driver's window (CScanHost).
#pragma once
#include <string>

#include "Afx.h"
#include "PictureEx.h"
#include "ScanDriver.h"

class CVestrelDlg : public CDialog, public CScanHost {
public:
    CVestrelDlg();
    ~CVestrelDlg() override;

    HICON m_hIcon;
    int m_nScanMode = 0;
    CListCtrl m_listResult;
    CMenu m_menuContext;
    int m_nClickedItem = -1;
    std::wstring m_strStreamName;
    std::wstring m_strFilePath;
    std::wstring m_strStreamSize;
    int m_bUpdateNotice = 0;
    int m_bFlashPicture = 0;
    CPictureEx m_picture;

    // Update notice: timer 1 (app/UpdateLaunch.cpp); title banner: timer 2.
    enum : UINT_PTR { kUpdateTimer = 1, kBannerTimer = 2 };

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Enter and Esc end the dialog as closing does: the scan is ended first.
    void OnOK() override;
    void OnCancel() override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnRadioSystemDir();
    void OnRadioAllDrives();
    void OnRadioFolder();
    void OnScan();
    void OnBrowseFolder();
    void OnStop();
    void OnClose();
    LRESULT OnScanRequestMessage(WPARAM wParam, LPARAM lParam);
    // Result list and its context menu (ResultActions.cpp, ScanLog.cpp, ShowNTFS.cpp)
    void OnRclickResultList(NMHDR* pNMHDR, LRESULT* pResult);
    void OnViewStream();
    void OnCheckAll();
    void OnUncheckAll();
    void OnDeleteSelectedStream();
    void OnDeleteAllStreams();
    void OnSaveScanLog();
    void StartTitleBanner();
    void SwapTitleBanner();
    // About box and update notice (app/)
    void OnAbout();
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnUpdateNotice(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};

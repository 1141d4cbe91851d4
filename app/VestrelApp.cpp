#include "VestrelApp.h"

#include "VestrelDlg.h"

CVestrelApp theApp;

BEGIN_MESSAGE_MAP(CVestrelApp, CWinApp)
    ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

BOOL CVestrelApp::InitInstance() {
    static_assert(sizeof(INITCOMMONCONTROLSEX) == 8, "INITCOMMONCONTROLSEX layout");
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&icc);

    // The picture loader and the shell's folder browser want COM on this thread.
    ::OleInitialize(nullptr);

    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, L"NOREPEAT");
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        // Another instance runs under this logon: end silently.
        ::CloseHandle(mutex);
        return FALSE;
    }
    // The first instance keeps its handle; the system releases it at exit.

    SetRegistryKey(L"应用程序向导生成的本地应用程序");

    {
        CVestrelDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    return FALSE;
}

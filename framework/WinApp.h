// The application object and the process-wide helpers that go with it.
#pragma once
#include <string>

#include "Wnd.h"

#ifndef ID_HELP
#define ID_HELP 0xE146  // the framework's help command (57670)
#endif

class CWinApp : public CCmdTarget {
public:
    // The one application object; its title is the program file's base name.
    CWinApp();
    ~CWinApp() override;

    // Returns FALSE to end the process instead of running a message loop.
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }
    virtual int Run();

    // Names the per-user settings key (HKCU\Software\<key>\<title>); nothing
    // is read or written there unless the program asks.
    void SetRegistryKey(LPCWSTR lpszRegistryKey);
    // The framework's help command; the program ships no help content.
    void OnHelp() {}

    CWnd* m_pMainWnd = nullptr;
    std::wstring m_strAppName;      // application title
    std::wstring m_strRegistryKey;  // set by SetRegistryKey
    std::wstring m_strProfileName;  // sub-key under it: the title
    HINSTANCE m_hInstance = nullptr;

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetResourceHandle();
LPCWSTR AfxGetAppName();
// The base name of a path: no directory, no extension.
std::wstring AfxBaseName(const std::wstring& path);

// A message box captioned with the application title, owned by the main
// window. A box without an icon gets the exclamation icon (OK, OK/Cancel) or
// the question icon (Yes/No).
int AfxMessageBox(LPCWSTR lpszText, UINT nType = MB_OK);

// The framework's start: InitInstance, then Run or ExitInstance.
int AfxWinMain(HINSTANCE hInstance);

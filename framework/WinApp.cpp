#include "WinApp.h"

namespace {
CWinApp* g_pApp = nullptr;
}

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
    ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

std::wstring AfxBaseName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/:");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    return name;
}

CWinApp::CWinApp() {
    g_pApp = this;
    m_hInstance = ::GetModuleHandleW(nullptr);
    wchar_t path[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    m_strAppName = AfxBaseName(std::wstring(path, n));
}

CWinApp::~CWinApp() {
    if (g_pApp == this) g_pApp = nullptr;
}

void CWinApp::SetRegistryKey(LPCWSTR lpszRegistryKey) {
    m_strRegistryKey = lpszRegistryKey;
    m_strProfileName = m_strAppName;
}

int CWinApp::Run() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return ExitInstance();
}

CWinApp* AfxGetApp() { return g_pApp; }

CWnd* AfxGetMainWnd() { return g_pApp != nullptr ? g_pApp->m_pMainWnd : nullptr; }

HINSTANCE AfxGetResourceHandle() { return ::GetModuleHandleW(nullptr); }

LPCWSTR AfxGetAppName() {
    static const std::wstring fallback;
    return g_pApp != nullptr ? g_pApp->m_strAppName.c_str() : fallback.c_str();
}

int AfxMessageBox(LPCWSTR lpszText, UINT nType) {
    if ((nType & MB_ICONMASK) == 0) {
        switch (nType & MB_TYPEMASK) {
        case MB_OK:
        case MB_OKCANCEL:
            nType |= MB_ICONEXCLAMATION;
            break;
        case MB_YESNO:
        case MB_YESNOCANCEL:
            nType |= MB_ICONQUESTION;
            break;
        default:
            break;
        }
    }
    // Owner: the main window's active pop-up (a modal box above it), else the
    // main window itself, so the box is modal to the program.
    HWND owner = nullptr;
    if (CWnd* main = AfxGetMainWnd()) {
        if (main->m_hWnd != nullptr) owner = ::GetLastActivePopup(main->m_hWnd);
    }
    if (owner == nullptr) owner = ::GetActiveWindow();
    return ::MessageBoxW(owner, lpszText, AfxGetAppName(), nType);
}

int AfxWinMain(HINSTANCE hInstance) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return -1;
    app->m_hInstance = hInstance;
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
}

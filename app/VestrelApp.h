// The application object: single instance per logon, then the main dialog.
#pragma once
#include "Afx.h"

class CVestrelApp : public CWinApp {
public:
    BOOL InitInstance() override;
    DECLARE_MESSAGE_MAP()
};

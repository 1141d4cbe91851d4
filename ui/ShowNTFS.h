// The stream content viewer: one large edit field showing a stream as text.
#pragma once
#include <string>

#include "Afx.h"

// The text handed from the view command to the viewer; keeps the last text shown.
extern std::wstring g_strStreamText;

class CShowNTFS : public CDialog {
    DECLARE_DYNAMIC(CShowNTFS)
public:
    explicit CShowNTFS(CWnd* pParent = nullptr);
    ~CShowNTFS() override;

    CEdit m_editContent;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()
};

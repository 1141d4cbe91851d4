// The stream content viewer: one large edit field showing a stream as text.
#pragma once
#include <string>

#include "Afx.h"

// The text handed from the view command to the viewer; keeps the last text shown.
extern std::wstring g_strStreamText;

// The most characters a stream's text may have: the string's own maximum
// (2^29 - 1 in the 32-bit build, so a stream of 512 MiB of single-byte text
// is past it). A longer text is a failure of the view command.
extern size_t g_cchMaxStreamText;

// The stream's bytes up to the first zero byte (or all of them), as text in
// the thread's ANSI code page. False, with text empty, when the text would be
// longer than cchMax characters or memory for it cannot be had; bytes the
// code page cannot convert give an empty text.
bool ConvertStreamText(const char* pData, DWORD dwSize, std::wstring& text, size_t cchMax = g_cchMaxStreamText);

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

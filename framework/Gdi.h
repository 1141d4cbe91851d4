// Device context and font wrappers: each owns exactly the GDI handle it names.
#pragma once
#include <windows.h>

class CWnd;

class CDC {
public:
    HDC m_hDC = nullptr;
    CDC() = default;
    explicit CDC(HDC hdc) : m_hDC(hdc) {}
    virtual ~CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }
    COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
    int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
};

// BeginPaint/EndPaint around the lifetime of the object.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps{};

private:
    HWND m_hWndPaint;
};

class CFont {
public:
    HFONT m_hObject = nullptr;
    CFont() = default;
    ~CFont() { DeleteObject(); }
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;
    BOOL CreateFont(int height, int width, int escapement, int orientation, int weight,
                    BYTE italic, BYTE underline, BYTE strikeOut, BYTE charSet,
                    BYTE outPrecision, BYTE clipPrecision, BYTE quality,
                    BYTE pitchAndFamily, LPCWSTR faceName) {
        DeleteObject();
        m_hObject = ::CreateFontW(height, width, escapement, orientation, weight, italic,
                                  underline, strikeOut, charSet, outPrecision, clipPrecision,
                                  quality, pitchAndFamily, faceName);
        return m_hObject != nullptr;
    }
    void DeleteObject() {
        if (m_hObject) ::DeleteObject(m_hObject);
        m_hObject = nullptr;
    }
    operator HFONT() const { return m_hObject; }
};

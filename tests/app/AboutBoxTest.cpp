// The About box run in-process as the main window runs it, and the drawing
// helper of the update picture.
#include <gtest/gtest.h>

#include "KorvaneAbout.h"
#include "UpdateLaunch.h"
#include "VestrelDlg.h"
#include "WinTestSupport.h"
#include "resource.h"

using namespace testing_support;

namespace {

struct AboutBox : ModalDialog<CKorvaneAbout> {
    AboutBox() : ModalDialog<CKorvaneAbout>([] { return new CKorvaneAbout; }) {}
};

LOGFONTW FontOf(HWND control) {
    LOGFONTW lf{};
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    EXPECT_EQ(::GetObjectW(font, sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
    return lf;
}

// The text colour the box gives a control through WM_CTLCOLORSTATIC.
COLORREF TextColourFor(HWND dlg, HWND control, HBRUSH* brush = nullptr) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    ::SetTextColor(dc, RGB(1, 2, 3));
    LRESULT r = ::SendMessageW(dlg, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
    if (brush) *brush = reinterpret_cast<HBRUSH>(r);
    COLORREF c = ::GetTextColor(dc);
    ::DeleteDC(dc);
    return c;
}

HWND ChildWithText(HWND dlg, const std::wstring& text) {
    for (HWND c = ::GetWindow(dlg, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
        if (WindowText(c) == text) return c;
    }
    return nullptr;
}

bool IsFontHandleAlive(HFONT font) {
    LOGFONTW lf;
    return ::GetObjectW(font, sizeof(lf), &lf) != 0;
}

}  // namespace

TEST(AboutBox, KnowsItsRunTimeClass) {
    CKorvaneAbout about;
    EXPECT_STREQ(about.GetRuntimeClass()->m_lpszClassName, "CKorvaneAbout");
    EXPECT_TRUE(about.IsKindOf(RUNTIME_CLASS(CDialog)));
    EXPECT_TRUE(about.IsKindOf(RUNTIME_CLASS(CWnd)));
    const CObject* asObject = &about;
    EXPECT_STREQ(asObject->GetRuntimeClass()->m_lpszClassName, "CKorvaneAbout");
    EXPECT_EQ(about.m_pLinkFont, nullptr);
}

// Without a title bar the box can't be dragged about.
TEST(AboutBox, HasNoTitleBar) {
    AboutBox box;
    ASSERT_NE(box.hwnd(), nullptr);
    LONG style = ::GetWindowLongW(box.hwnd(), GWL_STYLE);
    EXPECT_NE(style & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(style & WS_SYSMENU, 0);
    EXPECT_EQ(WindowText(box.hwnd()), L"");
    ::PostMessageW(box.item(IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(box.WaitClosed(5000), IDOK);
}

TEST(AboutBox, ShowsLogoTextsAndAddressesInReadOnlyFields) {
    AboutBox box;
    ASSERT_NE(box.hwnd(), nullptr);

    HBITMAP logo = reinterpret_cast<HBITMAP>(::SendMessageW(box.item(IDC_ABOUT_LOGO), STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP bm{};
    ASSERT_NE(logo, nullptr);
    ASSERT_NE(::GetObjectW(logo, sizeof(bm), &bm), 0);
    EXPECT_EQ(bm.bmWidth, 256);
    EXPECT_EQ(bm.bmHeight, 128);
    EXPECT_NE(ChildWithText(box.hwnd(), L"Vestrel\n程序版本：V1.2"), nullptr);
    EXPECT_NE(ChildWithText(box.hwnd(), L"技术支持信箱"), nullptr);

    EXPECT_EQ(WindowText(box.item(IDC_EDIT_SUPPORT_MAIL)), L"support@korvane.example");
    EXPECT_EQ(WindowText(box.item(IDC_EDIT_SAMPLE_MAIL)), L"support@korvane.example");
    EXPECT_EQ(WindowText(box.item(IDC_EDIT_WEBSITE)), L"http://www.korvane.example/");
    for (int id : {IDC_EDIT_SUPPORT_MAIL, IDC_EDIT_SAMPLE_MAIL, IDC_EDIT_WEBSITE}) {
        EXPECT_TRUE(::GetWindowLongW(box.item(id), GWL_STYLE) & ES_READONLY) << id;
    }
    EXPECT_EQ(::GetFocus(), nullptr);  // not this thread's: the box's thread holds it
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    ASSERT_TRUE(::GetGUIThreadInfo(::GetWindowThreadProcessId(box.hwnd(), nullptr), &gui));
    EXPECT_EQ(gui.hwndFocus, box.item(IDOK));
    ::PostMessageW(box.item(IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(box.WaitClosed(5000), IDOK);
}

TEST(AboutBox, AddressesAreBlueUnderlinedLinkFontOthersKeepTheDialogLook) {
    AboutBox box;
    ASSERT_NE(box.hwnd(), nullptr);
    LOGFONTW lf = FontOf(box.item(IDC_EDIT_SUPPORT_MAIL));
    EXPECT_EQ(lf.lfHeight, 16);
    EXPECT_EQ(lf.lfWeight, FW_NORMAL);
    EXPECT_TRUE(lf.lfUnderline);
    EXPECT_FALSE(lf.lfItalic);
    EXPECT_EQ(lf.lfQuality, CLEARTYPE_QUALITY);
    EXPECT_STREQ(lf.lfFaceName, L"宋体");
    HFONT link = reinterpret_cast<HFONT>(::SendMessageW(box.item(IDC_EDIT_SUPPORT_MAIL), WM_GETFONT, 0, 0));
    EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageW(box.item(IDC_EDIT_SAMPLE_MAIL), WM_GETFONT, 0, 0)), link);
    EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageW(box.item(IDC_EDIT_WEBSITE), WM_GETFONT, 0, 0)), link);

    HWND label = ChildWithText(box.hwnd(), L"Korvane网址");
    ASSERT_NE(label, nullptr);
    EXPECT_FALSE(FontOf(label).lfUnderline);

    for (int id : {IDC_EDIT_SUPPORT_MAIL, IDC_EDIT_SAMPLE_MAIL, IDC_EDIT_WEBSITE}) {
        HBRUSH brush = nullptr;
        EXPECT_EQ(TextColourFor(box.hwnd(), box.item(id), &brush), 0x00FF0000u) << id;
        EXPECT_NE(brush, nullptr) << id;  // the default background stays
    }
    EXPECT_NE(TextColourFor(box.hwnd(), label), 0x00FF0000u);
    EXPECT_NE(TextColourFor(box.hwnd(), box.item(IDOK)), 0x00FF0000u);
    ::PostMessageW(box.item(IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(box.WaitClosed(5000), IDOK);
}

// However the box ends, its font goes with it (no handle left behind).
TEST(AboutBox, EscapeClosesLikeOkAndEveryWayReleasesTheLinkFont) {
    struct Way { const char* name; void (*close)(HWND dlg); INT_PTR result; };
    const Way ways[] = {
        {"OK", [](HWND dlg) { ::PostMessageW(::GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0); }, IDOK},
        {"Escape", [](HWND dlg) {
             // As the keyboard delivers it: to the focused control, through the dialog manager.
             ::PostMessageW(::GetDlgItem(dlg, IDOK), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
             ::PostMessageW(::GetDlgItem(dlg, IDOK), WM_KEYUP, VK_ESCAPE, 0xC0010001);
         }, IDCANCEL},
        {"WM_CLOSE", [](HWND dlg) { ::PostMessageW(dlg, WM_CLOSE, 0, 0); }, IDCANCEL},
    };
    for (const Way& way : ways) {
        AboutBox box;
        ASSERT_NE(box.hwnd(), nullptr) << way.name;
        HFONT link = reinterpret_cast<HFONT>(::SendMessageW(box.item(IDC_EDIT_WEBSITE), WM_GETFONT, 0, 0));
        ASSERT_TRUE(IsFontHandleAlive(link)) << way.name;
        way.close(box.hwnd());
        EXPECT_EQ(box.WaitClosed(5000), way.result) << way.name;
        EXPECT_FALSE(IsFontHandleAlive(link)) << way.name;
    }
}

// The main dialog's handler runs the box and then lets it go: a pending update
// notice must have ended by the time the box object is destroyed.
TEST(AboutBox, ClosingEndsAPendingNoticeWhileTheBoxStillExists) {
    // The main dialog that owns the box; not shown, only its notice counts.
    CVestrelDlg main;
    struct Probe : CKorvaneAbout {
        Probe(CVestrelDlg* owner, int* seen) : CKorvaneAbout(owner), m_owner(owner), m_seen(seen) {}
        // Runs before the box's own destruction.
        ~Probe() override { *m_seen = m_owner->m_bUpdateNotice; }
        CVestrelDlg* m_owner;
        int* m_seen;
    };
    const UINT closes[] = {IDOK, IDCANCEL};
    for (UINT close : closes) {
        main.m_bUpdateNotice = 1;
        int seenAtDestruction = -1;
        {
            ModalDialog<Probe> box([&] { return new Probe(&main, &seenAtDestruction); });
            ASSERT_NE(box.hwnd(), nullptr);
            EXPECT_EQ(main.m_bUpdateNotice, 1);  // still pending while the box is open
            ::PostMessageW(box.hwnd(), WM_COMMAND, close, 0);
            EXPECT_EQ(box.WaitClosed(5000), static_cast<INT_PTR>(close));
        }
        EXPECT_EQ(seenAtDestruction, 0) << close;
        EXPECT_EQ(main.m_bUpdateNotice, 0) << close;
    }
}

TEST(UpdatePicture, DrawsTheWholeBitmapStretchedFromTheOrigin) {
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 20, -10, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP target = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(target, nullptr);
    auto* px = static_cast<DWORD*>(bits);
    for (int i = 0; i < 200; ++i) px[i] = 0x00FFFFFF;
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ oldTarget = ::SelectObject(dc, target);

    const DWORD source[2] = {0x00FF0000, 0x0000FF00};  // red, green (BGRA in memory)
    HBITMAP picture = ::CreateBitmap(2, 1, 1, 32, source);
    ASSERT_NE(picture, nullptr);
    RECT rect{5, 5, 15, 10};  // 10 x 5: only the size counts
    DrawStretchedBitmap(picture, rect, dc);
    ::GdiFlush();
    auto at = [&](int x, int y) { return px[y * 20 + x] & 0x00FFFFFF; };
    EXPECT_EQ(at(0, 0), 0x00FF0000u);
    EXPECT_EQ(at(4, 4), 0x00FF0000u);
    EXPECT_EQ(at(5, 0), 0x0000FF00u);
    EXPECT_EQ(at(9, 4), 0x0000FF00u);
    EXPECT_EQ(at(10, 0), 0x00FFFFFFu);  // right of the stretched area
    EXPECT_EQ(at(0, 5), 0x00FFFFFFu);   // below it
    EXPECT_EQ(at(12, 7), 0x00FFFFFFu);  // the rectangle's own place is not used

    BITMAP bm{};
    EXPECT_NE(::GetObjectW(picture, sizeof(bm), &bm), 0);  // still the caller's
    DrawStretchedBitmap(nullptr, rect, dc);
    DrawStretchedBitmap(picture, rect, nullptr);
    EXPECT_EQ(at(12, 7), 0x00FFFFFFu);

    ::DeleteObject(picture);
    ::SelectObject(dc, oldTarget);
    ::DeleteDC(dc);
    ::DeleteObject(target);
}

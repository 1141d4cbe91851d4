// The animated picture control on real windows under Wine: loading and
// sizing, the still path, frame pacing and disposal on the canvas, the one
// pass per process, stopping, and the program's own banner animation.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PictureEx.h"

namespace {

// The program initialises OLE on its interface thread before loading; so do we.
class OleEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::OleInitialize(nullptr))); }
    void TearDown() override { ::OleUninitialize(); }
};
const auto* const g_oleEnvironment = ::testing::AddGlobalTestEnvironment(new OleEnvironment);

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void PumpMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

// Polls while the window thread keeps handling its messages (paints).
bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
    const auto start = Clock::now();
    for (;;) {
        PumpMessages();
        if (cond()) return true;
        if (MsSince(start) > timeoutMs) return false;
        ::Sleep(5);
    }
}

void PumpFor(int ms) {
    WaitFor([] { return false; }, ms);
}

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kYellow = RGB(255, 255, 0);

// A GIF written the way an encoder would, with a four-colour global table:
// index 0 red, 1 blue, 2 green, 3 yellow.
class GifBuilder {
public:
    explicit GifBuilder(int width, int height, const char* version = "GIF89a") {
        m_bytes.append(version, 6);
        Word(width);
        Word(height);
        Byte(0x81);  // global colour table of 2^(1+1) entries
        Byte(0);
        Byte(0);
        const unsigned char table[12] = {255, 0, 0, 0, 0, 255, 0, 255, 0, 255, 255, 0};
        m_bytes.append(reinterpret_cast<const char*>(table), sizeof table);
    }
    GifBuilder& Loop() {
        const unsigned char app[19] = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P',
                                       'E', '2', '.', '0', 3, 1, 0, 0, 0};
        m_bytes.append(reinterpret_cast<const char*>(app), sizeof app);
        return *this;
    }
    GifBuilder& Control(int delay, int disposal) {
        Byte(0x21), Byte(0xF9), Byte(4), Byte((disposal & 7) << 2);
        Word(delay);
        Byte(0), Byte(0);
        return *this;
    }
    // An image whose pixel (x, y) has the colour index index(x, y).
    GifBuilder& Image(int left, int top, int width, int height,
                      const std::function<int(int, int)>& index) {
        Byte(0x2C);
        Word(left), Word(top), Word(width), Word(height);
        Byte(0);
        Byte(2);  // LZW minimum code size
        // A clear code before every two pixels keeps every code 3 bits wide
        // and the decoder's table from ever growing past its first entries.
        std::vector<int> codes;
        for (int i = 0, n = width * height; i < n; ++i) {
            if (i % 2 == 0) codes.push_back(4);
            codes.push_back(index(i % width, i / width));
        }
        codes.push_back(5);
        std::string data;
        unsigned bits = 0, count = 0;
        for (int code : codes) {
            bits |= static_cast<unsigned>(code) << count;
            count += 3;
            while (count >= 8) {
                data.push_back(static_cast<char>(bits & 0xFF));
                bits >>= 8;
                count -= 8;
            }
        }
        if (count > 0) data.push_back(static_cast<char>(bits & 0xFF));
        for (size_t at = 0; at < data.size(); at += 255) {
            const size_t n = std::min<size_t>(255, data.size() - at);
            Byte(static_cast<int>(n));
            m_bytes.append(data, at, n);
        }
        Byte(0);
        return *this;
    }
    GifBuilder& Solid(int left, int top, int width, int height, int index) {
        return Image(left, top, width, height, [index](int, int) { return index; });
    }
    GifBuilder& PlainText() {
        const unsigned char text[15] = {0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 0, 1};
        m_bytes.append(reinterpret_cast<const char*>(text), sizeof text);
        Byte(2), Byte('h'), Byte('i'), Byte(0);
        return *this;
    }
    std::string Finish() {
        Byte(0x3B);
        return m_bytes;
    }

private:
    void Byte(int b) { m_bytes.push_back(static_cast<char>(b)); }
    void Word(int w) { Byte(w & 0xFF), Byte((w >> 8) & 0xFF); }
    std::string m_bytes;
};

// A 24-bit bottom-up BMP: the upper half one colour, the lower half another.
std::string MakeBmp(int width, int height, COLORREF top, COLORREF bottom) {
    const int stride = (width * 3 + 3) & ~3;
    const int image = stride * height;
    std::string b(54 + image, '\0');
    auto put32 = [&b](size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
    auto put16 = [&b](size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); };
    b[0] = 'B', b[1] = 'M';
    put32(2, static_cast<uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    put16(26, 1);
    put16(28, 24);
    put32(34, static_cast<uint32_t>(image));
    for (int row = 0; row < height; ++row) {
        // Row 0 of the file is the bottom row of the picture.
        const COLORREF c = (height - 1 - row) < height / 2 ? top : bottom;
        for (int x = 0; x < width; ++x) {
            char* px = &b[54 + row * stride + x * 3];
            px[0] = static_cast<char>(GetBValue(c));
            px[1] = static_cast<char>(GetGValue(c));
            px[2] = static_cast<char>(GetRValue(c));
        }
    }
    return b;
}

// A movable global block holding the bytes, freed with the object.
class GlobalBlock {
public:
    explicit GlobalBlock(const std::string& bytes) {
        m_h = ::GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 1 : bytes.size());
        void* p = ::GlobalLock(m_h);
        if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
        ::GlobalUnlock(m_h);
        m_cb = static_cast<DWORD>(bytes.size());
    }
    ~GlobalBlock() { ::GlobalFree(m_h); }
    HGLOBAL get() const { return m_h; }
    DWORD size() const { return m_cb; }

private:
    HGLOBAL m_h;
    DWORD m_cb;
};

BOOL Load(CPictureEx& pic, const std::string& bytes) {
    GlobalBlock block(bytes);
    // The caller may free the block as soon as the call returns.
    return pic.LoadFromMemory(block.get(), block.size());
}

// A top-level window with a static control that the picture control drives,
// as the main dialog's data exchange does with its control.
class Host {
public:
    Host() {
        m_popup = ::CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0,
                                    720, 140, nullptr, nullptr, nullptr, nullptr);
        m_static = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP, kLeft,
                                     kTop, 14, 15, m_popup, nullptr, nullptr, nullptr);
        m_bound = m_static != nullptr && pic.SubclassWindow(m_static);
        PumpMessages();
    }
    ~Host() {
        if (m_popup != nullptr) ::DestroyWindow(m_popup);
        PumpMessages();
    }
    bool ok() const { return m_popup != nullptr && m_bound; }
    HWND control() const { return m_static; }
    // Destroys the control's window alone.
    void DestroyControl() { ::DestroyWindow(m_static); }
    // The control's window rectangle in its parent's client coordinates.
    RECT Placement() const {
        RECT rc;
        ::GetWindowRect(m_static, &rc);
        ::MapWindowPoints(HWND_DESKTOP, m_popup, reinterpret_cast<POINT*>(&rc), 2);
        return rc;
    }

    static constexpr int kLeft = 10;
    static constexpr int kTop = 12;
    // Declared after nothing it depends on; destroyed after the windows.
    CPictureEx pic;

private:
    HWND m_popup = nullptr;
    HWND m_static = nullptr;
    bool m_bound = false;
};

bool PixelIs(const CPictureEx& pic, int x, int y, COLORREF c) { return pic.GetCanvasPixel(x, y) == c; }

// Tests below play animations; each starts with no pass played yet.
void ForgetPlayedPasses() { g_nPassesPlayed = 0; }

// A platform picture whose Render can be held, as a paint stuck in the
// platform: every call goes to the real picture, Render once released.
class HeldPicture final : public IPicture {
public:
    static HANDLE s_release;        // manual reset; Render waits for it
    static volatile LONG s_live;    // held pictures not yet freed
    static volatile LONG s_renders; // Render calls begun

    explicit HeldPicture(IPicture* real) : m_real(real) { ::InterlockedIncrement(&s_live); }
    static IPicture* Load(HGLOBAL hGlobal, DWORD cb, BOOL bTakeBlock) {
        IPicture* real = CPictureEx::LoadPlatformPicture(hGlobal, cb, bTakeBlock);
        return real != nullptr ? new HeldPicture(real) : nullptr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IPicture) {
            *out = static_cast<IPicture*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&m_refs);
        if (left == 0) {
            m_real->Release();
            ::InterlockedDecrement(&s_live);
            delete this;
        }
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE Render(HDC dc, LONG x, LONG y, LONG cx, LONG cy, OLE_XPOS_HIMETRIC sx,
                                     OLE_YPOS_HIMETRIC sy, OLE_XSIZE_HIMETRIC sw, OLE_YSIZE_HIMETRIC sh,
                                     LPCRECT bounds) override {
        ::InterlockedIncrement(&s_renders);
        // Bounded, so that a failing test cannot hang the run.
        ::WaitForSingleObject(s_release, 60000);
        return m_real->Render(dc, x, y, cx, cy, sx, sy, sw, sh, bounds);
    }
    HRESULT STDMETHODCALLTYPE get_Handle(OLE_HANDLE* p) override { return m_real->get_Handle(p); }
    HRESULT STDMETHODCALLTYPE get_hPal(OLE_HANDLE* p) override { return m_real->get_hPal(p); }
    HRESULT STDMETHODCALLTYPE get_Type(SHORT* p) override { return m_real->get_Type(p); }
    HRESULT STDMETHODCALLTYPE get_Width(OLE_XSIZE_HIMETRIC* p) override { return m_real->get_Width(p); }
    HRESULT STDMETHODCALLTYPE get_Height(OLE_YSIZE_HIMETRIC* p) override { return m_real->get_Height(p); }
    HRESULT STDMETHODCALLTYPE set_hPal(OLE_HANDLE h) override { return m_real->set_hPal(h); }
    HRESULT STDMETHODCALLTYPE get_CurDC(HDC* p) override { return m_real->get_CurDC(p); }
    HRESULT STDMETHODCALLTYPE SelectPicture(HDC in, HDC* out, OLE_HANDLE* bmp) override {
        return m_real->SelectPicture(in, out, bmp);
    }
    HRESULT STDMETHODCALLTYPE get_KeepOriginalFormat(BOOL* p) override { return m_real->get_KeepOriginalFormat(p); }
    HRESULT STDMETHODCALLTYPE put_KeepOriginalFormat(BOOL b) override { return m_real->put_KeepOriginalFormat(b); }
    HRESULT STDMETHODCALLTYPE PictureChanged() override { return m_real->PictureChanged(); }
    HRESULT STDMETHODCALLTYPE SaveAsFile(LPSTREAM s, BOOL b, LONG* n) override { return m_real->SaveAsFile(s, b, n); }
    HRESULT STDMETHODCALLTYPE get_Attributes(DWORD* p) override { return m_real->get_Attributes(p); }

private:
    ~HeldPicture() = default;
    IPicture* m_real;
    volatile LONG m_refs = 1;
};
HANDLE HeldPicture::s_release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
volatile LONG HeldPicture::s_live = 0;
volatile LONG HeldPicture::s_renders = 0;

}  // namespace

TEST(PictureDelay, FollowsTheFrameDelayRule) {
    for (UINT d = 0; d < 5; ++d) EXPECT_EQ(CPictureEx::FrameDelayMs(d), 100u) << d;
    EXPECT_EQ(CPictureEx::FrameDelayMs(5), 50u);
    EXPECT_EQ(CPictureEx::FrameDelayMs(8), 80u);
    EXPECT_EQ(CPictureEx::FrameDelayMs(100), 1000u);
    EXPECT_EQ(CPictureEx::FrameDelayMs(65535), 655350u);
    // No graphic control extension: the minimum wait.
    EXPECT_EQ(CPictureEx::FrameDelayMs(0xFFFFFFFF), 100u);
}

TEST(PictureLoad, ShowBeforeAnyLoadStartsNothing) {
    Host host;
    ASSERT_TRUE(host.ok());
    EXPECT_FALSE(host.pic.Show());
    EXPECT_FALSE(host.pic.IsPlaying());
    EXPECT_EQ(host.pic.GetCanvasPixel(0, 0), CLR_INVALID);
    host.pic.StopAnimation();  // with no worker: only the flag and the event
    EXPECT_FALSE(host.pic.Show());
}

TEST(PictureLoad, BitmapTakesItsPixelSizeAndIsDrawnUpright) {
    Host host;
    ASSERT_TRUE(host.ok());
    HDC screen = ::GetDC(nullptr);
    const int dpiX = ::GetDeviceCaps(screen, LOGPIXELSX), dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    ASSERT_EQ(dpiX, 96);
    ASSERT_EQ(dpiY, 96);

    // 96 pixels are 2540 HIMETRIC units at 96 dpi, and back.
    ASSERT_TRUE(Load(host.pic, MakeBmp(96, 37, kRed, kBlue)));
    EXPECT_EQ(host.pic.GetPictureSize().cx, 96);
    EXPECT_EQ(host.pic.GetPictureSize().cy, 37);
    RECT rc = host.Placement();
    EXPECT_EQ(rc.left, Host::kLeft);
    EXPECT_EQ(rc.top, Host::kTop);
    EXPECT_EQ(rc.right - rc.left, 96);
    EXPECT_EQ(rc.bottom - rc.top, 37);
    // Before Show the canvas holds its first fill only.
    EXPECT_TRUE(PixelIs(host.pic, 50, 2, ::GetSysColor(COLOR_MENU)));

    EXPECT_TRUE(host.pic.Show());
    EXPECT_FALSE(host.pic.IsPlaying());
    EXPECT_TRUE(PixelIs(host.pic, 50, 2, kRed));
    EXPECT_TRUE(PixelIs(host.pic, 50, 34, kBlue));
    EXPECT_EQ(host.pic.GetCanvasPixel(96, 0), CLR_INVALID);

    // The window paints by copying the canvas.
    ::UpdateWindow(host.control());
    HDC hdc = ::GetDC(host.control());
    EXPECT_EQ(::GetPixel(hdc, 50, 2), kRed);
    EXPECT_EQ(::GetPixel(hdc, 50, 34), kBlue);
    ::ReleaseDC(host.control(), hdc);
}

TEST(PictureLoad, OneFrameGifIsAStillAtItsLogicalScreenSize) {
    Host host;
    ASSERT_TRUE(host.ok());
    ForgetPlayedPasses();
    // Its delay and disposal have no effect.
    const std::string gif = GifBuilder(12, 7).Control(5, 2).Solid(0, 0, 12, 7, 1).Finish();
    ASSERT_TRUE(Load(host.pic, gif));
    EXPECT_EQ(host.pic.GetFrameCount(), 0);
    RECT rc = host.Placement();
    EXPECT_EQ(rc.right - rc.left, 12);
    EXPECT_EQ(rc.bottom - rc.top, 7);
    EXPECT_TRUE(host.pic.Show());
    EXPECT_FALSE(host.pic.IsPlaying());
    EXPECT_TRUE(PixelIs(host.pic, 6, 3, kBlue));
    EXPECT_EQ(g_nPassesPlayed, 0);
}

TEST(PictureLoad, AnimationWithOneLoadableFrameShowsNothing) {
    Host host;
    ASSERT_TRUE(host.ok());
    // Two frames are counted; the plain text one holds no image.
    const std::string gif =
        GifBuilder(8, 8).Control(10, 1).Solid(0, 0, 8, 8, 0).Control(10, 1).PlainText().Finish();
    ASSERT_TRUE(Load(host.pic, gif));
    EXPECT_EQ(host.pic.GetFrameCount(), 1);
    EXPECT_FALSE(host.pic.Show());
    EXPECT_FALSE(host.pic.IsPlaying());
}

TEST(PictureLoad, BadInputFailsAndLeavesNothingToShow) {
    Host host;
    ASSERT_TRUE(host.ok());
    const std::string good = GifBuilder(8, 8).Control(10, 1).Solid(0, 0, 8, 8, 0).Finish();
    struct Case {
        const char* what;
        std::string bytes;
    };
    std::string noFrames = GifBuilder(8, 8).Finish();
    std::string cutHeader = good.substr(0, 20);
    std::string noArea = good;
    noArea[6] = noArea[7] = 0;  // logical screen width 0
    const Case cases[] = {
        {"empty", std::string()},
        {"not a picture", std::string(200, 'x')},
        {"GIF without frames", noFrames},
        {"GIF cut inside its colour table", cutHeader},
        {"GIF without area", noArea},
    };
    for (const Case& c : cases) {
        // A good picture first: a failed load must not leave it showable.
        ASSERT_TRUE(Load(host.pic, good)) << c.what;
        EXPECT_FALSE(Load(host.pic, c.bytes)) << c.what;
        EXPECT_FALSE(host.pic.Show()) << c.what;
        EXPECT_EQ(host.pic.GetCanvasPixel(0, 0), CLR_INVALID) << c.what;
    }
    // A byte count beyond the block is refused, not read.
    GlobalBlock block(good);
    EXPECT_FALSE(host.pic.LoadFromMemory(block.get(), block.size() + 65536));
    EXPECT_FALSE(host.pic.LoadFromMemory(nullptr, 10));
    EXPECT_FALSE(host.pic.LoadFromResource(MAKEINTRESOURCEW(999), L"gif"));
    EXPECT_FALSE(host.pic.Show());
}

// Frame 0 fills the screen (upper half red, lower half yellow); frame 1, a
// blue square in the middle, has the disposal method under test; frame 2, a
// green corner, then stays long enough to look at the canvas.
class PictureDisposal : public ::testing::TestWithParam<int> {};

TEST_P(PictureDisposal, AppliesBeforeTheNextFrameIsDrawn) {
    const int disposal = GetParam();
    Host host;
    ASSERT_TRUE(host.ok());
    ForgetPlayedPasses();
    const std::string gif = GifBuilder(8, 8)
                                .Loop()
                                .Control(10, 1)
                                .Image(0, 0, 8, 8, [](int, int y) { return y < 4 ? 0 : 3; })
                                .Control(60, disposal)
                                .Solid(2, 2, 4, 4, 1)
                                .Control(500, 1)
                                .Solid(0, 0, 2, 2, 2)
                                .Finish();
    ASSERT_TRUE(Load(host.pic, gif));
    ASSERT_EQ(host.pic.GetFrameCount(), 3);
    ASSERT_TRUE(host.pic.Show());
    EXPECT_TRUE(WaitFor([&] { return PixelIs(host.pic, 3, 3, kBlue); }, 10000));
    EXPECT_TRUE(WaitFor([&] { return PixelIs(host.pic, 0, 0, kGreen); }, 10000));

    // Outside the disposed frame the canvas keeps frame 0.
    EXPECT_TRUE(PixelIs(host.pic, 7, 1, kRed));
    EXPECT_TRUE(PixelIs(host.pic, 7, 6, kYellow));
    // Where frame 1 lay, while frame 2 shows (5 s): read until it settles or
    // a second has passed, so a slow machine's late read is not a failure;
    // the colours found are printed when it does not settle.
    COLORREF upper = kRed, lower = kYellow;  // 3: the area under the frame comes back
    if (disposal == 2) upper = lower = ::GetSysColor(COLOR_BTNFACE);  // the background colour
    if (disposal < 2) upper = lower = kBlue;  // the frame stays under the next one
    EXPECT_TRUE(WaitFor([&] { return PixelIs(host.pic, 3, 2, upper) && PixelIs(host.pic, 4, 5, lower); }, 1000))
        << std::hex << "found " << host.pic.GetCanvasPixel(3, 2) << " and " << host.pic.GetCanvasPixel(4, 5)
        << ", expected " << upper << " and " << lower;
    // A stop cuts the 5 s delay of the last frame short.
    const auto start = Clock::now();
    host.pic.StopAnimation();
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_FALSE(host.pic.IsPlaying());
    EXPECT_EQ(g_nPassesPlayed, 0);
}

INSTANTIATE_TEST_SUITE_P(Methods, PictureDisposal, ::testing::Values(0, 1, 2, 3));

TEST(PicturePlayback, OnePassPacedByTheDelaysThenEveryWorkerStops) {
    Host host;
    ASSERT_TRUE(host.ok());
    ForgetPlayedPasses();
    // 100 + 50 + 200 + 100 ms by the delay rule.
    const std::string gif = GifBuilder(6, 6)
                                .Control(0, 1).Solid(0, 0, 6, 6, 0)
                                .Control(5, 1).Solid(0, 0, 6, 6, 1)
                                .Control(20, 1).Solid(0, 0, 6, 6, 2)
                                .Solid(0, 0, 6, 6, 3)  // no control extension
                                .Finish();
    ASSERT_TRUE(Load(host.pic, gif));
    ASSERT_EQ(host.pic.GetFrameCount(), 4);
    const auto start = Clock::now();
    ASSERT_TRUE(host.pic.Show());
    EXPECT_TRUE(host.pic.IsPlaying());
    ASSERT_TRUE(WaitFor([&] { return !host.pic.IsPlaying(); }, 15000));
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 420);
    EXPECT_LE(elapsed, 8000);
    EXPECT_EQ(g_nPassesPlayed, 1);
    // After the pass the canvas is the background colour throughout.
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(PixelIs(host.pic, i, 5 - i, ::GetSysColor(COLOR_BTNFACE)));

    // Another control's animation, 3 s a frame, ends at once without drawing.
    Host other;
    ASSERT_TRUE(other.ok());
    const std::string slow = GifBuilder(6, 6)
                                 .Control(300, 1).Solid(0, 0, 6, 6, 0)
                                 .Control(300, 1).Solid(0, 0, 6, 6, 1)
                                 .Finish();
    ASSERT_TRUE(Load(other.pic, slow));
    const auto second = Clock::now();
    other.pic.Show();
    EXPECT_TRUE(WaitFor([&] { return !other.pic.IsPlaying(); }, 2000));
    EXPECT_LT(MsSince(second), 2000);
    EXPECT_TRUE(PixelIs(other.pic, 3, 3, ::GetSysColor(COLOR_MENU)));
    // Nor does the first one play again.
    host.pic.Show();
    EXPECT_TRUE(WaitFor([&] { return !host.pic.IsPlaying(); }, 2000));
    EXPECT_TRUE(PixelIs(host.pic, 3, 3, ::GetSysColor(COLOR_BTNFACE)));
    EXPECT_EQ(g_nPassesPlayed, 1);
}

TEST(PicturePlayback, StopKeepsTheFrameAndShowGoesOnFromIt) {
    Host host;
    ASSERT_TRUE(host.ok());
    ForgetPlayedPasses();
    const std::string gif = GifBuilder(6, 6)
                                .Control(100, 1).Solid(0, 0, 6, 6, 0)
                                .Control(100, 1).Solid(0, 0, 6, 6, 1)
                                .Control(100, 1).Solid(0, 0, 6, 6, 2)
                                .Finish();
    ASSERT_TRUE(Load(host.pic, gif));
    ASSERT_TRUE(host.pic.Show());
    ASSERT_TRUE(WaitFor([&] { return PixelIs(host.pic, 2, 2, kBlue); }, 10000));
    host.pic.StopAnimation();
    EXPECT_FALSE(host.pic.IsPlaying());
    PumpFor(300);
    EXPECT_TRUE(PixelIs(host.pic, 2, 2, kBlue));

    ASSERT_TRUE(host.pic.Show());
    EXPECT_TRUE(WaitFor([&] { return PixelIs(host.pic, 2, 2, kGreen); }, 10000));
    EXPECT_TRUE(WaitFor([&] { return !host.pic.IsPlaying(); }, 10000));
    EXPECT_EQ(g_nPassesPlayed, 1);
}

TEST(PicturePlayback, LoadingWhileAWorkerRunsStopsItFirst) {
    Host host;
    ASSERT_TRUE(host.ok());
    ForgetPlayedPasses();
    const std::string slow = GifBuilder(6, 6)
                                 .Control(300, 1).Solid(0, 0, 6, 6, 0)
                                 .Control(300, 1).Solid(0, 0, 6, 6, 1)
                                 .Finish();
    ASSERT_TRUE(Load(host.pic, slow));
    ASSERT_TRUE(host.pic.Show());
    ASSERT_TRUE(WaitFor([&] { return PixelIs(host.pic, 2, 2, kRed); }, 10000));

    const auto start = Clock::now();
    ASSERT_TRUE(Load(host.pic, MakeBmp(20, 10, kYellow, kYellow)));
    EXPECT_LT(MsSince(start), 2000);  // the stop wakes the worker's wait
    EXPECT_FALSE(host.pic.IsPlaying());
    EXPECT_EQ(host.pic.GetPictureSize().cx, 20);
    ASSERT_TRUE(host.pic.Show());
    // Past the old frame's delay nothing but the new picture is drawn.
    PumpFor(3500);
    EXPECT_TRUE(PixelIs(host.pic, 2, 2, kYellow));
    EXPECT_EQ(g_nPassesPlayed, 0);
}

TEST(PicturePlayback, DestroyingTheWindowStopsTheWorker) {
    auto host = std::make_unique<Host>();
    ASSERT_TRUE(host->ok());
    ForgetPlayedPasses();
    const std::string slow = GifBuilder(6, 6)
                                 .Control(300, 1).Solid(0, 0, 6, 6, 0)
                                 .Control(300, 1).Solid(0, 0, 6, 6, 1)
                                 .Finish();
    ASSERT_TRUE(Load(host->pic, slow));
    ASSERT_TRUE(host->pic.Show());
    ASSERT_TRUE(WaitFor([&] { return PixelIs(host->pic, 2, 2, kRed); }, 10000));
    const auto start = Clock::now();
    host->DestroyControl();
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_FALSE(host->pic.IsPlaying());
    host.reset();  // frees the frames and the canvas
    EXPECT_EQ(g_nPassesPlayed, 0);
}

// A worker stuck in a paint cannot hold the control's destruction for ever:
// the destruction waits as long as a stop does, then gives the worker up; the
// worker, once its paint returns, frees what it drew with and ends.
TEST(PicturePlayback, DestructionGivesUpAWorkerStuckInAPaint) {
    ForgetPlayedPasses();
    ::ResetEvent(HeldPicture::s_release);
    HeldPicture::s_renders = 0;
    auto host = std::make_unique<Host>();
    ASSERT_TRUE(host->ok());
    const std::string gif = GifBuilder(6, 6)
                                .Control(10, 1).Solid(0, 0, 6, 6, 0)
                                .Control(10, 1).Solid(0, 0, 6, 6, 1)
                                .Finish();
    CPictureEx::s_pfnLoadPicture = &HeldPicture::Load;
    const BOOL loaded = Load(host->pic, gif);
    CPictureEx::s_pfnLoadPicture = &CPictureEx::LoadPlatformPicture;
    ASSERT_TRUE(loaded);
    ASSERT_EQ(HeldPicture::s_live, 2);
    ASSERT_TRUE(host->pic.Show());
    ASSERT_TRUE(WaitFor([] { return HeldPicture::s_renders > 0; }, 5000));

    const auto start = Clock::now();
    host.reset();  // the window's stop, then the object's: each waits its bound
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 4500);
    EXPECT_LE(elapsed, 15000);
    // Still stuck: nothing it draws with was freed under it.
    EXPECT_EQ(HeldPicture::s_live, 2);
    EXPECT_EQ(HeldPicture::s_renders, 1);

    ::SetEvent(HeldPicture::s_release);
    EXPECT_TRUE(WaitFor([] { return HeldPicture::s_live == 0; }, 10000));
    EXPECT_EQ(HeldPicture::s_renders, 1);  // it drew nothing more
    EXPECT_EQ(g_nPassesPlayed, 0);
}

TEST(PictureBanner, ProgramAnimationPlaysOnePassAtItsSize) {
    Host host;
    ASSERT_TRUE(host.ok());
    ForgetPlayedPasses();
    // As the main dialog asks for it: id 143, type names compare without case.
    ASSERT_TRUE(host.pic.LoadFromResource(MAKEINTRESOURCEW(143), L"gif"));
    EXPECT_EQ(host.pic.GetFrameCount(), 20);
    EXPECT_EQ(host.pic.GetPictureSize().cx, 690);
    EXPECT_EQ(host.pic.GetPictureSize().cy, 109);
    RECT rc = host.Placement();
    EXPECT_EQ(rc.left, Host::kLeft);
    EXPECT_EQ(rc.top, Host::kTop);
    EXPECT_EQ(rc.right - rc.left, 690);
    EXPECT_EQ(rc.bottom - rc.top, 109);

    const auto start = Clock::now();
    ASSERT_TRUE(host.pic.Show());
    // Something of the banner shows while it plays.
    EXPECT_TRUE(WaitFor([&] {
        for (int x = 0; x < 690; x += 7)
            for (int y = 0; y < 109; y += 7) {
                const COLORREF c = host.pic.GetCanvasPixel(x, y);
                if (c != ::GetSysColor(COLOR_BTNFACE) && c != ::GetSysColor(COLOR_MENU)) return true;
            }
        return false;
    }, 5000));
    ASSERT_TRUE(WaitFor([&] { return !host.pic.IsPlaying(); }, 20000));
    const long elapsed = MsSince(start);
    // 20 frames of 80 ms.
    EXPECT_GE(elapsed, 1500);
    EXPECT_LE(elapsed, 12000);
    EXPECT_EQ(g_nPassesPlayed, 1);
    PumpFor(500);
}

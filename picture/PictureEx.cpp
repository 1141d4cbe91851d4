#include "PictureEx.h"

#include <process.h>

#include <cstring>

#include "GifAnalysis.h"

volatile LONG g_nPassesPlayed = 0;

namespace {

// How long StopAnimation waits for the worker to end.
constexpr DWORD kStopWaitMs = 5000;
// The shortest wait after a frame: delays below 5 hundredths are taken as
// "as fast as possible" by many encoders and would flicker past unseen.
constexpr DWORD kMinFrameMs = 100;
constexpr UINT kNoDelay = 0xFFFFFFFF;

RECT FrameRect(const AnimFrame& f) {
    RECT rc = {f.origin.x, f.origin.y, f.origin.x + f.size.cx, f.origin.y + f.size.cy};
    return rc;
}

// Fills a rectangle with a solid brush of the colour, deleting the brush right
// after; FALSE when the brush cannot be made.
BOOL FillSolid(HDC hDC, const RECT& rc, COLORREF colour) {
    HBRUSH hBrush = ::CreateSolidBrush(colour);
    if (hBrush == nullptr) return FALSE;
    ::FillRect(hDC, &rc, hBrush);
    ::DeleteObject(hBrush);
    return TRUE;
}

// Draws a picture upright, scaled into (x, y, cx, cy).
BOOL RenderPicture(HDC hDC, IPicture* pPicture, int x, int y, int cx, int cy) {
    OLE_XSIZE_HIMETRIC w = 0;
    OLE_YSIZE_HIMETRIC h = 0;
    pPicture->get_Width(&w);
    pPicture->get_Height(&h);
    // HIMETRIC runs bottom-up: start at the bottom edge with a negative
    // height to draw the picture upright.
    return pPicture->Render(hDC, x, y, cx, cy, 0, h, w, -h, nullptr) == S_OK;
}

// The area under a frame of disposal method 3, saved before it is drawn.
struct SaveUnder {
    HDC hDC = nullptr;
    HBITMAP hBitmap = nullptr;
    HGDIOBJ hOldBitmap = nullptr;
};

void DeleteSaveUnder(SaveUnder& save) {
    if (save.hDC != nullptr) {
        ::SelectObject(save.hDC, save.hOldBitmap);
        ::DeleteDC(save.hDC);
    }
    if (save.hBitmap != nullptr) ::DeleteObject(save.hBitmap);
    save = SaveUnder();
}

// Saves the canvas under the frame; half a save-under is none.
void TakeSaveUnder(HDC hCanvasDC, const AnimFrame& f, SaveUnder& save) {
    DeleteSaveUnder(save);  // never more than one
    save.hDC = ::CreateCompatibleDC(hCanvasDC);
    save.hBitmap = ::CreateCompatibleBitmap(hCanvasDC, f.size.cx, f.size.cy);
    if (save.hDC != nullptr && save.hBitmap != nullptr) {
        save.hOldBitmap = ::SelectObject(save.hDC, save.hBitmap);
        ::BitBlt(save.hDC, 0, 0, f.size.cx, f.size.cy, hCanvasDC, f.origin.x, f.origin.y, SRCCOPY);
    } else {
        if (save.hDC != nullptr) ::DeleteDC(save.hDC);
        if (save.hBitmap != nullptr) ::DeleteObject(save.hBitmap);
        save = SaveUnder();
    }
}

// Copies the save-under back under the frame and frees it.
void RestoreSaveUnder(HDC hCanvasDC, const AnimFrame& f, SaveUnder& save) {
    ::BitBlt(hCanvasDC, f.origin.x, f.origin.y, f.size.cx, f.size.cy, save.hDC, 0, 0, SRCCOPY);
    DeleteSaveUnder(save);
}

}  // namespace

IPicture* CPictureEx::LoadPlatformPicture(HGLOBAL hGlobal, DWORD cb, BOOL bTakeBlock) {
    IStream* pStream = nullptr;
    if (::CreateStreamOnHGlobal(hGlobal, bTakeBlock, &pStream) != S_OK || pStream == nullptr) {
        // Not even the stream could be made: the block is freed here.
        if (bTakeBlock) ::GlobalFree(hGlobal);
        return nullptr;
    }
    IPicture* pPicture = nullptr;
    HRESULT hr = ::OleLoadPicture(pStream, static_cast<LONG>(cb), FALSE, IID_IPicture,
                                  reinterpret_cast<void**>(&pPicture));
    pStream->Release();
    if (hr != S_OK) {
        if (pPicture != nullptr) pPicture->Release();
        return nullptr;
    }
    return pPicture;
}

CPictureEx::PictureLoader CPictureEx::s_pfnLoadPicture = &CPictureEx::LoadPlatformPicture;

// Holds the worker link's lock; owner() is the control, or null once the
// control has given the worker up.
class CPictureEx::OwnerLock {
public:
    explicit OwnerLock(WorkerLink& link) : m_link(link) { ::AcquireSRWLockExclusive(&m_link.lock); }
    ~OwnerLock() { ::ReleaseSRWLockExclusive(&m_link.lock); }
    OwnerLock(const OwnerLock&) = delete;
    OwnerLock& operator=(const OwnerLock&) = delete;
    CPictureEx* owner() const { return m_link.pOwner; }

private:
    WorkerLink& m_link;
};

struct CPictureEx::WorkerTools {
    std::vector<AnimFrame> frames;
    HDC hCanvasDC = nullptr;
    HBITMAP hCanvasBitmap = nullptr;
    HGDIOBJ hOldCanvasBitmap = nullptr;
    SaveUnder save;
    HANDLE hStopEvent = nullptr;
    SIZE size = {0, 0};
    COLORREF crBackground = 0;
    UINT iFrame = 0;
};

BEGIN_MESSAGE_MAP(CPictureEx, CStatic)
    ON_WM_DESTROY()
    ON_WM_PAINT()
END_MESSAGE_MAP()

CPictureEx::CPictureEx()
    : m_sizePicture{0, 0},
      m_crBackground(0x00FFFFFF),
      m_iFrame(0),
      m_cbBytes(0),
      m_nPos(0),
      m_cbColorTable(0),
      m_bIsGif(FALSE),
      m_bStop(FALSE),
      m_bCanvasReady(FALSE),
      m_hCanvasDC(nullptr),
      m_hSaveDC(nullptr),
      m_hSaveBitmap(nullptr),
      m_hOldSaveBitmap(nullptr),
      m_hCanvasBitmap(nullptr),
      m_hOldCanvasBitmap(nullptr),
      m_hWorker(nullptr),
      m_hStopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_pStill(nullptr),
      m_pBytes(nullptr) {}

CPictureEx::~CPictureEx() {
    // Stops the worker, waiting at most StopAnimation's bound, and frees
    // everything unless the worker outlived that bound.
    ClearPicture();
    bool gaveUp = false;
    if (m_pWorkerLink) {
        OwnerLock lock(*m_pWorkerLink);
        // Under the lock the worker cannot be between its last look at this
        // object and its end: it has either ended or not got there yet.
        HANDLE hWorker = ::InterlockedExchangePointer(&m_hWorker, nullptr);
        // A worker that ended just as the stop's wait ran out left its
        // handle behind for us: it has given everything back already.
        if (hWorker != nullptr && ::WaitForSingleObject(hWorker, 0) == WAIT_OBJECT_0) {
            ::CloseHandle(hWorker);
            hWorker = nullptr;
        }
        if (hWorker != nullptr) {
            // Stuck (in a paint that does not return): it is given up, with
            // the frames, canvas, save-under and stop event it draws with;
            // it frees them when it ends and never looks at this object again.
            m_pWorkerLink->pOwner = nullptr;
            ::CloseHandle(hWorker);
            gaveUp = true;
        }
    }
    if (gaveUp) {
        if (m_pStill != nullptr) m_pStill->Release();
        return;
    }
    ClearPicture();  // the worker ended after the first stop gave up on it
    if (m_hStopEvent != nullptr) ::CloseHandle(m_hStopEvent);
}

DWORD CPictureEx::FrameDelayMs(UINT nDelay) {
    // A frame without a graphic control extension asks for no pace at all;
    // it gets the same minimum as a delay too short to honour.
    if (nDelay == kNoDelay || nDelay < 5) return kMinFrameMs;
    // Delays come from a 16-bit field; the bound only keeps the product from
    // wrapping or reaching INFINITE for values set elsewhere.
    if (nDelay > (INFINITE - 1) / 10) return INFINITE - 1;
    return nDelay * 10;
}

BOOL CPictureEx::LoadFromResource(LPCWSTR name, LPCWSTR type) {
    HINSTANCE hInst = AfxGetResourceHandle();
    HRSRC hRes = ::FindResourceW(hInst, name, type);
    if (hRes == nullptr) return FALSE;
    HGLOBAL hResData = ::LoadResource(hInst, hRes);
    if (hResData == nullptr) return FALSE;
    DWORD cb = ::SizeofResource(hInst, hRes);
    HGLOBAL hGlobal = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, cb);
    if (hGlobal == nullptr) return FALSE;
    void* pDest = ::GlobalLock(hGlobal);
    const void* pSrc = ::LockResource(hResData);
    if (pDest == nullptr || pSrc == nullptr) {
        if (pDest != nullptr) ::GlobalUnlock(hGlobal);
        ::GlobalFree(hGlobal);
        return FALSE;
    }
    std::memcpy(pDest, pSrc, cb);
    ::GlobalUnlock(hGlobal);
    BOOL bResult = LoadFromMemory(hGlobal, cb);
    ::GlobalFree(hGlobal);
    return bResult;
}

BOOL CPictureEx::LoadFromMemory(HGLOBAL hGlobal, DWORD cb) {
    ClearPicture();
    // A worker that outlived the stop still uses the old frames and canvas,
    // which ClearPicture therefore kept: nothing can be loaded over them.
    if (m_hWorker != nullptr) return FALSE;
    if (hGlobal == nullptr) return FALSE;
    m_pBytes = static_cast<const BYTE*>(::GlobalLock(hGlobal));
    if (m_pBytes == nullptr) return FALSE;
    // A count beyond the block would have the analysis and the loader read
    // memory that is not the caller's.
    if (cb > ::GlobalSize(hGlobal)) {
        m_pBytes = nullptr;
        ::GlobalUnlock(hGlobal);
        return FALSE;
    }
    m_cbBytes = cb;

    vestrel::CGifAnalysis gif;
    if (!gif.Begin(m_pBytes, m_cbBytes)) {
        // Not GIF: whatever else the platform's loader reads.
        m_pBytes = nullptr;
        ::GlobalUnlock(hGlobal);
        m_pStill = s_pfnLoadPicture(hGlobal, cb, FALSE);
        if (m_pStill == nullptr) return FALSE;
        OLE_XSIZE_HIMETRIC w = 0;
        OLE_YSIZE_HIMETRIC h = 0;
        m_pStill->get_Width(&w);
        m_pStill->get_Height(&h);
        HDC hdc = ::GetDC(m_hWnd);
        if (hdc == nullptr) return FALSE;
        m_sizePicture.cx = ::MulDiv(w, ::GetDeviceCaps(hdc, LOGPIXELSX), 2540);
        m_sizePicture.cy = ::MulDiv(h, ::GetDeviceCaps(hdc, LOGPIXELSY), 2540);
        ::ReleaseDC(m_hWnd, hdc);
        return PrepareCanvas(m_sizePicture.cx, m_sizePicture.cy);
    }

    m_bIsGif = TRUE;
    const vestrel::GifSize screen = gif.PictureSize();
    m_sizePicture.cx = screen.cx;
    m_sizePicture.cy = screen.cy;
    m_cbColorTable = gif.ColorTableSize();
    const int nFrames = gif.CountFrames();
    m_nPos = gif.Position();
    if (nFrames <= 0) {
        gif.End();
        m_pBytes = nullptr;
        ::GlobalUnlock(hGlobal);
        return FALSE;
    }
    if (nFrames == 1) {
        // A still GIF: loaded whole, its control extension has no effect.
        gif.End();
        m_pBytes = nullptr;
        ::GlobalUnlock(hGlobal);
        m_pStill = s_pfnLoadPicture(hGlobal, cb, FALSE);
        if (m_pStill == nullptr) return FALSE;
        return PrepareCanvas(m_sizePicture.cx, m_sizePicture.cy);
    }

    // One desc across the walk: a plain text frame keeps the size and origin
    // of the frame before it.
    vestrel::GifFrameDesc desc;
    gif.Rewind();
    while (gif.ExtractFrame(desc)) {
        m_nPos = gif.Position();
        const DWORD cbStream = gif.FrameStreamLength(desc);
        if (cbStream == 0) break;
        HGLOBAL hFrame = ::GlobalAlloc(GMEM_FIXED, cbStream);
        if (hFrame == nullptr) break;
        gif.WriteFrameStream(desc, static_cast<uint8_t*>(hFrame));
        // The stream takes the frame's block and frees it when released.
        IPicture* pPicture = s_pfnLoadPicture(hFrame, cbStream, TRUE);
        if (pPicture == nullptr) continue;
        AnimFrame f;
        f.pPicture = pPicture;
        f.size.cx = desc.size.cx;
        f.size.cy = desc.size.cy;
        f.origin.x = desc.origin.x;
        f.origin.y = desc.origin.y;
        f.nDelay = desc.nDelay;
        f.nDisposal = desc.nDisposal;
        m_frames.push_back(f);
    }
    gif.End();
    m_pBytes = nullptr;
    ::GlobalUnlock(hGlobal);
    if (m_frames.empty()) return FALSE;
    return PrepareCanvas(m_sizePicture.cx, m_sizePicture.cy);
}

BOOL CPictureEx::PrepareCanvas(int cx, int cy) {
    // A picture without area has nothing to show, and a zero-sized bitmap
    // request would hand back the stock one-pixel bitmap.
    if (cx <= 0 || cy <= 0) return FALSE;
    SetWindowPos(nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
    HDC hdc = ::GetDC(m_hWnd);
    if (hdc == nullptr) return FALSE;
    m_hCanvasDC = ::CreateCompatibleDC(hdc);
    if (m_hCanvasDC == nullptr) {
        ::ReleaseDC(m_hWnd, hdc);
        return FALSE;
    }
    m_hCanvasBitmap = ::CreateCompatibleBitmap(hdc, cx, cy);
    if (m_hCanvasBitmap == nullptr) {
        ::ReleaseDC(m_hWnd, hdc);
        ::DeleteDC(m_hCanvasDC);
        m_hCanvasDC = nullptr;
        return FALSE;
    }
    m_hOldCanvasBitmap = ::SelectObject(m_hCanvasDC, m_hCanvasBitmap);
    m_crBackground = ::GetSysColor(COLOR_BTNFACE);
    RECT rc = {0, 0, cx, cy};
    ::FillRect(m_hCanvasDC, &rc, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1)));
    ::ReleaseDC(m_hWnd, hdc);
    m_bCanvasReady = TRUE;
    return TRUE;
}

BOOL CPictureEx::Show() {
    if (!m_bCanvasReady) return FALSE;
    if (m_bIsGif && m_frames.size() > 1) {
        // Already playing: the one worker goes on.
        if (m_hWorker != nullptr) return TRUE;
        // Without the event every frame wait would return at once.
        if (m_hStopEvent == nullptr) return FALSE;
        // Left set by a stop whose wait ran out; that worker has ended since.
        if (m_bStop) {
            ::ResetEvent(m_hStopEvent);
            m_bStop = FALSE;
        }
        std::shared_ptr<WorkerLink>* pLink = nullptr;
        try {
            m_pWorkerLink = std::make_shared<WorkerLink>();
            m_pWorkerLink->pOwner = this;
            pLink = new std::shared_ptr<WorkerLink>(m_pWorkerLink);
        } catch (const std::bad_alloc&) {
            return FALSE;
        }
        // Suspended, so that m_hWorker is stored before the worker can clear it.
        HANDLE hThread = reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, &CPictureEx::WorkerProc, pLink, CREATE_SUSPENDED, nullptr));
        if (hThread == nullptr) {
            delete pLink;
            return FALSE;
        }
        m_hWorker = hThread;
        if (::ResumeThread(hThread) == static_cast<DWORD>(-1)) {
            // It never ran a line of ours: nothing of this object is in use.
            m_hWorker = nullptr;
            ::TerminateThread(hThread, 0);
            ::CloseHandle(hThread);
            delete pLink;
            return FALSE;
        }
        return TRUE;
    }
    if (m_pStill == nullptr) return FALSE;
    if (!RenderPicture(m_hCanvasDC, m_pStill, 0, 0, m_sizePicture.cx, m_sizePicture.cy)) return FALSE;
    // A null window would invalidate every window on the desktop.
    if (m_hWnd != nullptr) ::InvalidateRect(m_hWnd, nullptr, FALSE);
    return TRUE;
}

unsigned __stdcall CPictureEx::WorkerProc(void* pParam) {
    std::shared_ptr<WorkerLink>* pLink = static_cast<std::shared_ptr<WorkerLink>*>(pParam);
    AnimationWorker(*pLink);
    delete pLink;
    return 0;
}

void CPictureEx::FreeSaveUnder() {
    SaveUnder save;
    save.hDC = m_hSaveDC;
    save.hBitmap = m_hSaveBitmap;
    save.hOldBitmap = m_hOldSaveBitmap;
    DeleteSaveUnder(save);
    m_hSaveDC = nullptr;
    m_hSaveBitmap = nullptr;
    m_hOldSaveBitmap = nullptr;
}

// The worker looks at its control only under the link's lock, and never while
// it draws: what it draws with is taken at its start and given back at its
// end. So a control can give up a worker stuck in a paint and be destroyed.
void CPictureEx::AnimationWorker(const std::shared_ptr<WorkerLink>& link) {
    WorkerTools t;
    {
        OwnerLock lock(*link);
        CPictureEx* p = lock.owner();
        if (p == nullptr) return;
        try {
            t.frames = p->m_frames;
        } catch (const std::bad_alloc&) {
            t.frames.clear();
        }
        t.hCanvasDC = p->m_hCanvasDC;
        t.hCanvasBitmap = p->m_hCanvasBitmap;
        t.hOldCanvasBitmap = p->m_hOldCanvasBitmap;
        t.save.hDC = p->m_hSaveDC;
        t.save.hBitmap = p->m_hSaveBitmap;
        t.save.hOldBitmap = p->m_hOldSaveBitmap;
        t.hStopEvent = p->m_hStopEvent;
        t.size = p->m_sizePicture;
        t.crBackground = p->m_crBackground;
        t.iFrame = p->m_iFrame;
    }
    auto stopped = [&link] {
        OwnerLock lock(*link);
        return lock.owner() == nullptr || lock.owner()->m_bStop;
    };
    auto invalidate = [&link] {
        OwnerLock lock(*link);
        // A null window would invalidate every window on the desktop.
        if (lock.owner() != nullptr && lock.owner()->m_hWnd != nullptr)
            ::InvalidateRect(lock.owner()->m_hWnd, nullptr, FALSE);
    };

    const UINT nFrames = static_cast<UINT>(t.frames.size());
    if (nFrames > 0) {
        if (t.iFrame >= nFrames) t.iFrame = 0;
        // The disposal a stop cut short; on a first start, frame 0's own.
        const AnimFrame& f0 = t.frames[t.iFrame];
        if (f0.nDisposal == 2) {
            FillSolid(t.hCanvasDC, FrameRect(f0), t.crBackground);
        } else if (t.save.hDC != nullptr && f0.nDisposal == 3) {
            RestoreSaveUnder(t.hCanvasDC, f0, t.save);
        }
    }
    while (nFrames > 0 && !stopped() && g_nPassesPlayed < 1) {
        const AnimFrame& f = t.frames[t.iFrame];
        if (f.pPicture != nullptr) {
            if (f.nDisposal == 3) TakeSaveUnder(t.hCanvasDC, f, t.save);
            if (RenderPicture(t.hCanvasDC, f.pPicture, f.origin.x, f.origin.y, f.size.cx, f.size.cy))
                invalidate();
            if (stopped()) break;
            ::WaitForSingleObject(t.hStopEvent, FrameDelayMs(f.nDelay));
            // Stopped during the wait: the disposal stays pending for a restart.
            if (stopped()) break;
            if (f.nDisposal == 2) {
                FillSolid(t.hCanvasDC, FrameRect(f), t.crBackground);
            } else if (f.nDisposal == 3 && t.save.hDC != nullptr) {
                RestoreSaveUnder(t.hCanvasDC, f, t.save);
            }
        }
        if (++t.iFrame == nFrames) {
            t.iFrame = 0;
            // The clearing is not shown at once: the window keeps the last
            // frame until its next repaint. A brush that cannot be made skips
            // the count too, so another pass is played.
            RECT rc = {0, 0, t.size.cx, t.size.cy};
            if (FillSolid(t.hCanvasDC, rc, t.crBackground)) ::InterlockedIncrement(&g_nPassesPlayed);
        }
    }

    {
        OwnerLock lock(*link);
        if (CPictureEx* p = lock.owner()) {
            // Back to the control: where to go on from, and a pending save-under.
            p->m_iFrame = t.iFrame;
            p->m_hSaveDC = t.save.hDC;
            p->m_hSaveBitmap = t.save.hBitmap;
            p->m_hOldSaveBitmap = t.save.hOldBitmap;
            // Whoever takes the handle out of m_hWorker closes it: here, or
            // StopAnimation when it got there first and is waiting on it.
            HANDLE hSelf = ::InterlockedExchangePointer(&p->m_hWorker, nullptr);
            if (hSelf != nullptr) ::CloseHandle(hSelf);
            return;
        }
    }
    // Given up by a control that is gone: what it left to the worker goes now.
    DeleteSaveUnder(t.save);
    for (AnimFrame& f : t.frames) {
        if (f.pPicture != nullptr) f.pPicture->Release();
    }
    if (t.hCanvasDC != nullptr) {
        ::SelectObject(t.hCanvasDC, t.hOldCanvasBitmap);
        ::DeleteDC(t.hCanvasDC);
        ::DeleteObject(t.hCanvasBitmap);
    }
    if (t.hStopEvent != nullptr) ::CloseHandle(t.hStopEvent);
}

void CPictureEx::StopAnimation() {
    m_bStop = TRUE;
    if (m_hStopEvent != nullptr) ::SetEvent(m_hStopEvent);
    // Taking the handle out first means the worker cannot close it while it
    // is being waited on; a worker that finds it gone leaves it to us.
    HANDLE hWorker = ::InterlockedExchangePointer(&m_hWorker, nullptr);
    if (hWorker != nullptr) {
        if (::WaitForSingleObject(hWorker, kStopWaitMs) == WAIT_TIMEOUT) {
            // Still running: hand the handle back, so that m_hWorker keeps
            // saying so (ClearPicture then keeps everything the worker uses)
            // and the worker closes it on its way out, or the next stop does.
            // The stop request stays set, so the worker ends at its next look.
            ::InterlockedExchangePointer(&m_hWorker, hWorker);
            return;
        }
        ::CloseHandle(hWorker);
    }
    if (m_hStopEvent != nullptr) ::ResetEvent(m_hStopEvent);
    m_bStop = FALSE;
}

void CPictureEx::ClearPicture() {
    StopAnimation();
    // A worker that did not end within the stop's bound still draws with the
    // frames and into the surfaces: they are kept (and nothing new can be
    // loaded) until a later stop finds it ended.
    if (m_hWorker != nullptr) return;
    if (m_pStill != nullptr) {
        m_pStill->Release();
        m_pStill = nullptr;
    }
    for (AnimFrame& f : m_frames) {
        if (f.pPicture != nullptr) f.pPicture->Release();
    }
    m_frames.clear();
    if (m_hCanvasDC != nullptr) {
        ::SelectObject(m_hCanvasDC, m_hOldCanvasBitmap);
        ::DeleteDC(m_hCanvasDC);
        ::DeleteObject(m_hCanvasBitmap);
        m_hCanvasDC = nullptr;
        m_hCanvasBitmap = nullptr;
        m_hOldCanvasBitmap = nullptr;
    }
    FreeSaveUnder();
    m_pBytes = nullptr;
    m_bCanvasReady = FALSE;
    m_bStop = FALSE;
    m_bIsGif = FALSE;
    m_crBackground = 0x00FFFFFF;
    m_cbColorTable = 0;
    m_nPos = 0;
    m_iFrame = 0;
    m_cbBytes = 0;
}

COLORREF CPictureEx::GetCanvasPixel(int x, int y) const {
    if (m_hCanvasDC == nullptr || x < 0 || y < 0 || x >= m_sizePicture.cx || y >= m_sizePicture.cy)
        return CLR_INVALID;
    return ::GetPixel(m_hCanvasDC, x, y);
}

void CPictureEx::OnPaint() {
    CPaintDC dc(this);
    if (m_hCanvasDC != nullptr) {
        ::BitBlt(dc.m_hDC, 0, 0, m_sizePicture.cx, m_sizePicture.cy, m_hCanvasDC, 0, 0, SRCCOPY);
    }
}

void CPictureEx::OnDestroy() {
    StopAnimation();
    CStatic::OnDestroy();
}

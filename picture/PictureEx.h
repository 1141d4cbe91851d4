// The animated picture control: a static control that loads a picture from a
// resource or a block of global memory, takes the picture's size and paints it
// from an off-screen canvas. A GIF with two or more frames is cut into one GIF
// per frame, each loaded by the platform's picture loader, and played on a
// worker thread, one pass per process.
#pragma once
#include <ole2.h>
#include <olectl.h>

#include <memory>
#include <vector>

#include "Afx.h"

// One frame of an animation, in play order.
struct AnimFrame {
    IPicture* pPicture;  // one reference, released when the frame list is emptied
    SIZE size;           // image descriptor width and height
    POINT origin;        // image descriptor left and top, on the logical screen
    UINT nDelay;         // hundredths of a second; all bits set: no control extension
    UINT nDisposal;      // disposal method, 0 without a control extension
};

// Completed animation passes in this process. Every worker plays only while
// it is below 1, so the animation plays once per process, whichever control
// plays it.
extern volatile LONG g_nPassesPlayed;

class CPictureEx : public CStatic {
public:
    CPictureEx();
    ~CPictureEx() override;

    // TRUE when the picture is loaded and the canvas prepared.
    BOOL LoadFromResource(LPCWSTR name, LPCWSTR type);
    // Loads the first cb bytes of hGlobal; the caller keeps the block.
    BOOL LoadFromMemory(HGLOBAL hGlobal, DWORD cb);
    // Draws a still picture into the canvas or starts the animation worker.
    BOOL Show();
    // Stops the worker and waits for it, at most 5000 ms.
    void StopAnimation();
    // Stops the worker and releases every picture and drawing surface.
    void ClearPicture();

    // The wait after a frame, in milliseconds, for its delay in hundredths.
    static DWORD FrameDelayMs(UINT nDelay);

    // Makes one picture from the first cb bytes of hGlobal. With bTakeBlock
    // the picture's stream owns the block and frees it, whatever the outcome.
    // Null on failure.
    typedef IPicture* (*PictureLoader)(HGLOBAL hGlobal, DWORD cb, BOOL bTakeBlock);
    // The platform's loader (OleLoadPicture over a memory stream).
    static IPicture* LoadPlatformPicture(HGLOBAL hGlobal, DWORD cb, BOOL bTakeBlock);
    // What every control loads its pictures with; the platform's unless a
    // test puts another in its place.
    static PictureLoader s_pfnLoadPicture;

    // State a host or a test can look at.
    SIZE GetPictureSize() const { return m_sizePicture; }
    int GetFrameCount() const { return static_cast<int>(m_frames.size()); }
    BOOL IsPlaying() const { return m_hWorker != nullptr; }
    // A pixel of the canvas; CLR_INVALID without a canvas or outside it.
    COLORREF GetCanvasPixel(int x, int y) const;

private:
    // What a running worker shares with its control. The control gives the
    // worker up (pOwner null) when it is destroyed while the worker still
    // runs; the worker then frees what it draws with and ends.
    struct WorkerLink {
        SRWLOCK lock = SRWLOCK_INIT;
        CPictureEx* pOwner = nullptr;
    };
    // What the worker draws with, taken from the control when it starts.
    struct WorkerTools;
    class OwnerLock;

    BOOL PrepareCanvas(int cx, int cy);
    static void AnimationWorker(const std::shared_ptr<WorkerLink>& link);
    static unsigned __stdcall WorkerProc(void* pParam);
    void FreeSaveUnder();

    void OnPaint();
    void OnDestroy();

    SIZE m_sizePicture;
    COLORREF m_crBackground;
    UINT m_iFrame;
    UINT m_cbBytes;
    UINT m_nPos;
    INT m_cbColorTable;
    BOOL m_bIsGif;
    volatile BOOL m_bStop;
    BOOL m_bCanvasReady;
    HDC m_hCanvasDC;
    HDC m_hSaveDC;
    HBITMAP m_hSaveBitmap;
    HGDIOBJ m_hOldSaveBitmap;
    HBITMAP m_hCanvasBitmap;
    HGDIOBJ m_hOldCanvasBitmap;
    HANDLE volatile m_hWorker;
    HANDLE m_hStopEvent;
    IPicture* m_pStill;
    const BYTE* m_pBytes;
    std::vector<AnimFrame> m_frames;
    std::shared_ptr<WorkerLink> m_pWorkerLink;  // of the last worker started

    DECLARE_MESSAGE_MAP()
};

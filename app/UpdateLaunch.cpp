// PLACEHOLDER (being written).
#include "UpdateLaunch.h"
DWORD g_dwUpdaterExitCode = 0;
BOOL RunUpdater() { return FALSE; }
DWORD WINAPI UpdateThreadProc(LPVOID) { return 0; }
void UpdateNoticeTick(CVestrelDlg*) {}
void EndUpdateNotice(CVestrelDlg*) {}
void DrawStretchedBitmap(HBITMAP, const RECT&, HDC) {}

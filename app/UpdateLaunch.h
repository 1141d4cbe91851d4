// The update launch: once per run the maker's updater is started in the
// background; its exit code may start the update notice on the About button
// (timer 1) or open the maker's tools page.
#pragma once
#include <windows.h>

class CVestrelDlg;

// Exit code of the last updater run (written and read by the update thread).
extern DWORD g_dwUpdaterExitCode;

// Starts the updater, waits for it and stores its exit code; FALSE when the
// program's own path cannot be read or the updater cannot be started.
BOOL RunUpdater();
// Thread routine, started by the main dialog's initialisation; returns 0.
DWORD WINAPI UpdateThreadProc(LPVOID dialog);
// Sent by the update thread to the main dialog on exit code 100.
constexpr UINT WM_UPDATE_NOTICE = WM_APP + 0x52;
// On the window's thread: sets the notice flag, then starts timer 1.
void BeginUpdateNotice(CVestrelDlg* dialog);
// One tick of timer 1 while a notice is pending: caption or picture.
void UpdateNoticeTick(CVestrelDlg* dialog);
// After the About box has closed: stops timer 1, ends a pending notice.
void EndUpdateNotice(CVestrelDlg* dialog);
// Draws a whole bitmap stretched over rect's width and height at (0, 0).
void DrawStretchedBitmap(HBITMAP bitmap, const RECT& rect, HDC dc);

// The program's entry point: hands control to the application object.
#include "WinApp.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) { return AfxWinMain(hInstance); }

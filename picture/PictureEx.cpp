// PLACEHOLDER (being written).
#include "PictureEx.h"
BOOL CPictureEx::LoadFromResource(LPCWSTR, LPCWSTR) { return FALSE; }
BOOL CPictureEx::Show() { return FALSE; }

// PLACEHOLDER (being written): the animated picture control.
#pragma once
#include "Afx.h"

class CPictureEx : public CStatic {
public:
    CPictureEx() = default;
    BOOL LoadFromResource(LPCWSTR name, LPCWSTR type);
    BOOL Show();
};

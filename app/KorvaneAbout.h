// PLACEHOLDER (being written): the About box.
#pragma once
#include "Afx.h"

class CKorvaneAbout : public CDialog {
public:
    CKorvaneAbout();
};

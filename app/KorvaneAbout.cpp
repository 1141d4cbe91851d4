// PLACEHOLDER (being written).
#include "KorvaneAbout.h"
#include "resource.h"
CKorvaneAbout::CKorvaneAbout() : CDialog(IDD_ABOUTBOX) {}

// The program's framework layer in one include.
#pragma once
#include "Controls.h"
#include "Dialog.h"
#include "File.h"
#include "FileFind.h"
#include "Gdi.h"
#include "WinApp.h"
#include "Wnd.h"

// What the command-line companions print about streams, shared by the Windows
// console program and the Linux volume reader. Portable: no windows.h, no
// file system. Each concern has its own header; this one includes them all.
#pragma once
#include "ContentKind.h"
#include "ExitStatus.h"
#include "Facts.h"
#include "Filter.h"
#include "Hash.h"
#include "Listing.h"
#include "Names.h"
#include "NewFiles.h"
#include "Options.h"
#include "Progress.h"
#include "Row.h"
#include "Text.h"
#include "Writers.h"
#include "Zone.h"

// Resource and control numbers shared by the code and the resource scripts.
#pragma once

#include "message_ids.h"

// Progress window shown by the backup operations.
#define IDD_PROGRESS 105
#define IDC_PROGRESS_BAR 1007
#define IDC_PROGRESS_TEXT 1008

// Pictures (artwork.rc). The toolbar strip holds sixteen 16 x 16 images with
// magenta as the transparent colour; each kind icon holds one 16 x 16 image.
#define IDB_TOOLBAR 101
#define IDI_PROGRAM 102
#define IDI_KIND_FILES_RECURSIVE 111
#define IDI_KIND_INI 112
#define IDI_KIND_REGISTRY 113
#define IDI_KIND_RELATION 114
#define IDI_KIND_FILES 115
#define IDI_KIND_UNSET 116

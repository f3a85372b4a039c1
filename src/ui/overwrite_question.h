// The question asked when a template opened from a file is saved.
#pragma once

#include <windows.h>

#include "resource.h"

// IDOK (1) for Save as, IDC_OVERWRITE (1028) for Overwrite, IDCANCEL (2) for
// Cancel; also IDCANCEL when the dialog cannot be shown.
int AskOverwriteOrSaveAs(HWND owner);

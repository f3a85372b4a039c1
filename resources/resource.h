// Resource and control numbers shared by the code and the resource scripts.
#pragma once

#include "message_ids.h"

// Progress window shown by the backup operations.
#define IDD_PROGRESS 105
#define IDC_PROGRESS_BAR 1007
#define IDC_PROGRESS_TEXT 1008

// The toolbar's "Verify backup" and "Preview restore": a check of the
// backup in the destination field's folder, its report in a dialog.
#pragma once

#include <windows.h>

#include "backup/backup_check.h"

// Runs the check on the field's folder and shows the report: a list of what
// differs, where and how, which the Copy button puts on the clipboard. A
// folder without a manifest or a Restore.bat is said in a message box.
void ShowBackupCheck(HWND owner, HWND destinationField, CheckKind kind);

// "DO BACKUP!": a whole backup run over the checked templates.
#pragma once

#include <windows.h>

void RunBackup(HWND mainWindow);

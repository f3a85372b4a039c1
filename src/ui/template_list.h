// The main window's list of templates: one row per "*.txt" file of the
// template folder, with check boxes.
#pragma once

#include <windows.h>

#include "core/paths.h"

void LoadTemplateList(HWND owner);
// Sorts by a column; the same column again flips the direction.
void SortTemplateList(int column);
int CALLBACK CompareTemplateRows(LPARAM first, LPARAM second, LPARAM column);

int TemplateRowCount();
bool IsTemplateRowChecked(int row);
void SetTemplateRowChecked(int row, bool checked);
bool IsTemplateRowSelected(int row);
int SelectedTemplateRowCount();
// The whole text of a row's column in a new block (MemFree it), or null
// when memory runs out.
char* CopyTemplateRowText(int row, int column);
// Full path of the template file of a row; false when it does not fit.
bool TemplateRowPath(int row, PathText* path);

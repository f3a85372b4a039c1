// The main window's list of templates: one row per "*.txt" file of the
// template folder, with check boxes.
#pragma once

#include <windows.h>

#include <string>

void LoadTemplateList(HWND owner);
// Sorts by a column; the same column again flips the direction.
void SortTemplateList(int column);
int CALLBACK CompareTemplateRows(LPARAM first, LPARAM second, LPARAM column);

int TemplateRowCount();
bool IsTemplateRowChecked(int row);
void SetTemplateRowChecked(int row, bool checked);
bool IsTemplateRowSelected(int row);
int SelectedTemplateRowCount();
// Text of a row's column, cut to fit room bytes with the terminator.
std::string TemplateRowText(int row, int column, int room = 260);
// Full path of the template file of a row, or "" when it does not fit.
std::string TemplateRowPath(int row);

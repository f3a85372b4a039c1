// The template editor: a template's three header lines and its entries.
#pragma once

#include <windows.h>

// Edits the template at path, or a new one when path is null, in a modal
// dialog owned by owner. Returns 1 when a template file was written, else 0.
int RunTemplateEditor(HWND owner, const char* path);

// The template editor.
#pragma once

#include <windows.h>

// Edits the template at path, or a new one when path is null. Returns 1
// when the user saved.
int RunTemplateEditor(HWND owner, const char* path);

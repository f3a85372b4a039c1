#include "ui/template_editor.h"

// The editor dialog is not built yet: the commands that open it do nothing.
int RunTemplateEditor(HWND, const char*) { return 0; }

#include "about/about_box.h"

// The About dialog is not built yet: the system-menu item shows nothing.
void RunAboutBox(HWND) {}

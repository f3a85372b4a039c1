// The About box, with the program's version and its tune.
#pragma once

#include <windows.h>

// Shows the About box modally, owned by owner.
void RunAboutBox(HWND owner);

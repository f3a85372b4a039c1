// Entry point of Arkivanto2.
#include <windows.h>

#include "core/messages.h"
#include "core/program_folder.h"
#include "ui/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int showCommand) {
  // Relative paths resolve in the program's folder from here on.
  SetCurrentDirectoryA(ProgramFolder());
  if (!previous && !RegisterMainWindowClass(instance)) return 0;
  if (!CreateMainWindow(instance, showCommand)) return 0;
  const int code = RunMessageLoop();
  FreeMessages();
  return code;
}

// Entry point of Arkivanto2.
#include <windows.h>

#include "core/messages.h"
#include "core/program_folder.h"
#include "ui/command_line.h"
#include "ui/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int showCommand) {
  // A command line runs without the window; the folders it names are taken
  // relative to the folder it was started in.
  const int commandResult = RunCommandLine(::GetCommandLineW());
  if (commandResult >= 0) {
    FreeMessages();
    return commandResult;
  }
  // Relative paths resolve in the program's folder from here on.
  SetCurrentDirectoryA(ProgramFolder());
  if (!previous && !RegisterMainWindowClass(instance)) return 0;
  if (!CreateMainWindow(instance, showCommand)) return 0;
  const int code = RunMessageLoop();
  FreeMessages();
  return code;
}

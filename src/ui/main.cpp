// Entry point of Arkivanto2.
#include <windows.h>

#include "core/messages.h"
#include "core/text.h"

namespace {

// The program's own folder becomes the current directory, so that relative
// template paths and the template folder resolve there.
void EnterProgramFolder() {
  char path[kPathSize];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return;
  *FindFileNamePart(path) = '\0';
  SetCurrentDirectoryA(path);
  CreateDirectoryA("template", nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  EnterProgramFolder();
  // The main window is not built yet: say so rather than start silently.
  MessageBoxA(nullptr, LoadMessage(IDS_STATUS_READY), LoadMessage(IDS_CAPTION_ARKIVANTO), MB_ICONINFORMATION);
  FreeMessages();
  return 0;
}

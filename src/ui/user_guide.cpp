#include "ui/user_guide.h"

#include <shellapi.h>

#include <cstdio>

#include "core/messages.h"
#include "core/notices.h"
#include "core/paths.h"
#include "core/program_folder.h"
#include "resource.h"

namespace {

// ShellExecute reports success as a value above 32.
bool Opened(HINSTANCE result) { return INT_PTR(result) > 32; }

}  // namespace

void OpenUserGuide(HWND owner) {
  PathText guide;
  const char* name = LoadMessage(IDS_USER_GUIDE_FILE);
  if (guide.Set(ProgramFolder()) && name && guide.Append(name)) {
    const HINSTANCE result = ShellExecuteA(owner, "open", guide.s, nullptr, nullptr, SW_SHOWNORMAL);
    if (Opened(result)) return;
    // A system with no program for text files still has Notepad. A path
    // holds no quotes, so quoted it stays one argument.
    char argument[kPathSize + 2];
    snprintf(argument, sizeof argument, "\"%s\"", guide.s);
    if (INT_PTR(result) == SE_ERR_NOASSOC &&
        Opened(ShellExecuteA(owner, "open", "notepad.exe", argument, nullptr, SW_SHOWNORMAL)))
      return;
  }
  char text[kPathSize + 128];
  snprintf(text, sizeof text, LoadMessage(IDS_USER_GUIDE_MISSING), guide.s);
  ShowError(owner, text);
}

#include "ui/user_guide.h"

#include <shellapi.h>

#include <cstdio>

#include "core/messages.h"
#include "core/notices.h"
#include "core/paths.h"
#include "core/program_folder.h"
#include "resource.h"

void OpenUserGuide(HWND owner) {
  PathText guide;
  const char* name = LoadMessage(IDS_USER_GUIDE_FILE);
  const bool fits = guide.Set(ProgramFolder()) && name && guide.Append(name);
  // ShellExecute reports success as a value above 32.
  if (fits && INT_PTR(ShellExecuteA(owner, "open", guide.s, nullptr, nullptr, SW_SHOWNORMAL)) > 32) return;
  char text[kPathSize + 128];
  snprintf(text, sizeof text, LoadMessage(IDS_USER_GUIDE_MISSING), guide.s);
  ShowError(owner, text);
}

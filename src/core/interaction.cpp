#include "core/interaction.h"

#include <mmsystem.h>
#include <shlobj.h>

namespace {

class PlatformPerson final : public Person {
 public:
  int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) override {
    return ::MessageBoxA(owner, text, caption, type);
  }
  SHORT KeyState(int virtualKey) override { return ::GetAsyncKeyState(virtualKey); }
  void Now(SYSTEMTIME* time) override { ::GetLocalTime(time); }
  bool BrowseForFolder(HWND owner, const char* title, char* path) override {
    BROWSEINFOA browse = {};
    browse.hwndOwner = owner;
    browse.lpszTitle = title;
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
    LPITEMIDLIST items = ::SHBrowseForFolderA(&browse);
    if (!items) return false;
    const bool ok = ::SHGetPathFromIDListA(items, path) != FALSE;
    CoTaskMemFree(items);
    return ok;
  }
  // The platform is called with "::": inside this class an unqualified
  // GetSaveFileNameA could name a member, as the header's macros rename.
  bool AskSaveFile(OPENFILENAMEA* dialog) override { return ::GetSaveFileNameA(dialog) != FALSE; }
  bool AskOpenFile(OPENFILENAMEA* dialog) override { return ::GetOpenFileNameA(dialog) != FALSE; }
  // Without a sound device or a sound for the event the command fails quietly.
  void SendSoundCommand(const char* command) override { ::mciSendStringA(command, nullptr, 0, nullptr); }
};

PlatformPerson platformPerson;
Person* current = &platformPerson;

}  // namespace

Person& CurrentPerson() { return *current; }

Person* SetPerson(Person* person) {
  Person* previous = current == &platformPerson ? nullptr : current;
  current = person ? person : &platformPerson;
  return previous;
}

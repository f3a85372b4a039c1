// What blocks on a person or differs from run to run goes through here:
// message boxes, the common file and folder dialogs, sounds, the
// asynchronous key state and the local clock. The program
// uses the platform; tests install a scripted person that answers questions
// and records what was shown.
#pragma once

#include <windows.h>
#include <commdlg.h>

class Person {
 public:
  virtual ~Person() = default;
  virtual int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) = 0;
  virtual SHORT KeyState(int virtualKey) = 0;
  virtual void Now(SYSTEMTIME* time) = 0;
  // The shell's folder browser; fills path (260 bytes) and returns true on OK.
  virtual bool BrowseForFolder(HWND owner, const char* title, char* path) = 0;
  // The save-file dialog; true on OK with the name in the record's buffer.
  // Members are named after what they ask: the common-dialog header defines
  // GetSaveFileName and its kin as macros, which would rename them.
  virtual bool AskSaveFile(OPENFILENAMEA* dialog) = 0;
  // The open-file dialog, the same way.
  virtual bool AskOpenFile(OPENFILENAMEA* dialog) = 0;
  // A multimedia command string that plays a sound; its result does not matter.
  virtual void SendSoundCommand(const char* command) = 0;
};

// The person currently answering; the platform's unless a test set another.
Person& CurrentPerson();
// Installs a person (none restores the platform's); returns the previous one.
Person* SetPerson(Person* person);

inline int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) {
  return CurrentPerson().ShowMessage(owner, text, caption, type);
}
inline SHORT KeyState(int virtualKey) { return CurrentPerson().KeyState(virtualKey); }
inline void LocalNow(SYSTEMTIME* time) { CurrentPerson().Now(time); }
inline bool BrowseForFolder(HWND owner, const char* title, char* path) {
  return CurrentPerson().BrowseForFolder(owner, title, path);
}
inline bool AskSaveFile(OPENFILENAMEA* dialog) { return CurrentPerson().AskSaveFile(dialog); }
inline bool AskOpenFile(OPENFILENAMEA* dialog) { return CurrentPerson().AskOpenFile(dialog); }
inline void SendSoundCommand(const char* command) { CurrentPerson().SendSoundCommand(command); }

// Shared pieces of the tests: a scripted person, scratch folders, files and
// registry keys made for one test and removed after it.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <doctest.h>

#include "core/interaction.h"
#include "support/scratch.h"

struct ShownMessage {
  std::string text, caption;
  UINT type;
  bool operator==(const ShownMessage&) const = default;
};
// A message box prints whole when a check fails: text, caption and type.
namespace doctest {
template <>
struct StringMaker<ShownMessage> {
  static String convert(const ShownMessage& m) {
    return ("{\"" + m.text + "\", \"" + m.caption + "\", type " + std::to_string(m.type) + "}").c_str();
  }
};
}  // namespace doctest

// Answers message boxes from a script and records every one shown; the Esc
// and Shift keys and the clock are set by the test.
class ScriptedPerson final : public Person {
 public:
  ScriptedPerson() { previous_ = SetPerson(this); }
  ~ScriptedPerson() override { SetPerson(previous_); }
  ScriptedPerson(const ScriptedPerson&) = delete;
  ScriptedPerson& operator=(const ScriptedPerson&) = delete;

  int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) override;
  SHORT KeyState(int virtualKey) override;
  void Now(SYSTEMTIME* time) override { *time = now; }
  bool BrowseForFolder(HWND owner, const char* title, char* path) override;
  bool AskSaveFile(OPENFILENAMEA* dialog) override;
  bool AskOpenFile(OPENFILENAMEA* dialog) override;
  void SendSoundCommand(const char* command) override { sounds.push_back(command); }

  std::vector<ShownMessage> shown;
  std::deque<int> answers;                          // taken in order; IDOK / IDNO once they run out
  std::function<void(const ShownMessage&)> onShow;  // called before each answer
  std::vector<int> keysDown;
  std::function<SHORT(int)> keys;  // when set, answers the key state instead of keysDown
  SYSTEMTIME now = {2004, 1, 6, 31, 13, 5, 9, 42};
  // Folder browser, save and open dialogs: the answer (empty for Cancel);
  // save dialogs take theirs in order, Cancel once they run out.
  std::string folderAnswer, openAnswer;
  std::deque<std::string> saveAnswers;
  std::vector<std::string> fileDialogFolders;  // each save or open dialog's first folder, in order
  std::vector<std::string> sounds;             // multimedia commands sent

 private:
  Person* previous_ = nullptr;
};

// The main window made as the program makes it, in a program folder of the
// test's own, with the given template files in its "template" folder.
class MainWindowFixture {
 public:
  MainWindowFixture();
  ~MainWindowFixture();
  MainWindowFixture(const MainWindowFixture&) = delete;
  MainWindowFixture& operator=(const MainWindowFixture&) = delete;
  void AddTemplate(const std::string& fileName, const std::string& content);
  void Reload();
  HWND window() const;
  void Command(int id);
  void SetPressed(int id, bool pressed);
  void SetDestination(const std::string& text);
  // A notice from the list, as a click or a double click on a column sends.
  void Notify(UINT code, int column);
  void ClickColumn(int column) { Notify(LVN_COLUMNCLICK, column); }
  std::string StatusText() const;
  // Checks every row and backs them up into destination, saying Yes to the
  // last question; true when the report says that no error occurred.
  bool BackUpAll(ScriptedPerson& person, const std::string& destination);
  ScratchFolder program{"program"};
  std::string templateFolder;
};

// One template backed up through the main window with the log on, into a
// destination below a scratch folder; its Restore.bat run from a folder.
struct LoggedBackup {
  ScriptedPerson person;
  MainWindowFixture main;
  ScratchFolder target{"target"};
  std::string destination;
  explicit LoggedBackup(const std::string& folder = "backup\\");
  // Backs up every template, this one first added as t.txt when not empty.
  bool Run(const std::string& templateText = "");
  std::string Log() const { return ReadFileBytes(destination + "log.txt"); }
  int Restore(const std::string& from = "") const;  // from the destination by default
};

// Acts on the program's modal dialogs from inside their own message loops.
// A thread timer looks for the enabled dialog box on top and runs the next
// step on it once it is the kind the step waits for; a step may open the
// next dialog, whose steps then run inside it. A step that waits too long,
// or dialogs left open after the last step, are ended and recorded in
// failures, so a broken script cannot hang the test. An Until step runs on
// every tick until it returns true, for at most half a minute.
enum class DialogKind { TemplateEditor, KeyPicker, OverwriteQuestion, About };
class DialogScript {
 public:
  DialogScript();
  ~DialogScript();
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;
  DialogScript& Then(DialogKind kind, std::function<void(HWND dialog)> step);
  DialogScript& Until(DialogKind kind, std::function<bool(HWND dialog)> done);
  bool Done() const { return steps_.empty() && failures.empty(); }
  std::vector<std::string> failures;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
  void Run();
  struct Step {
    DialogKind kind;
    std::function<bool(HWND)> action;  // true when the step is done
  };
  std::deque<Step> steps_;
  UINT_PTR timer_ = 0;
  int idleTicks_ = 0;
};
// Presses a button as the mouse does (nothing happens when it is disabled).
void Click(HWND dialog, int id);
// Posts a key to the dialog's focused control, as typing it does.
void PostKey(HWND dialog, UINT message, WPARAM key);
std::string ItemText(HWND dialog, int id);
// Selects exactly these rows of a list view.
void SelectRows(HWND list, std::initializer_list<int> rows);
void SetItemText(HWND dialog, int id, const std::string& text);

// The key picker's tree: an item's children, its text, and the item a path
// of names leads to from the roots, each expanded on the way (null when a
// name is not there).
std::vector<HTREEITEM> TreeChildren(HWND tree, HTREEITEM parent);
std::string TreeText(HWND tree, HTREEITEM item);
HTREEITEM OpenTreePath(HWND tree, const std::vector<std::string>& names);
// A picker step: selects the key a path leads to, then presses a button.
std::function<void(HWND)> PickKey(const std::vector<std::string>& names, int button = IDOK);

// What Restore.bat holds for a saved F or S entry ("Mail\\0" back to
// "C:\\Data\\") and for a saved .reg file ("Mail\\3.reg"): the command and
// the lines that note its failure.
std::string FileRestoreLines(const std::string& entry, const std::string& target);
std::string RegistryRestoreLines(const std::string& entry);
// A key's lines in a .reg file the own writer makes: its deletion, its
// section, its value lines and an empty line.
inline std::string Block(const std::string& key, const std::string& values) {
  return "[-" + key + "]\r\n[" + key + "]\r\n" + values + "\r\n";
}

// The whole text of a row's column in the main window's list.
std::string RowText(int row, int column);
// The first row whose column holds text, or -1.
int RowWith(int column, const std::string& text);

std::string TextOf(int messageId);
// A catalogue text with its "%s", "%c" or "%d" filled in, whole or its first line.
template <class... Arguments>
std::string TextOf(int messageId, Arguments... arguments) {
  char text[1024];
  snprintf(text, sizeof text, TextOf(messageId).c_str(), arguments...);
  return text;
}
template <class... Arguments>
std::string FirstLineOf(int messageId, Arguments... arguments) {
  const std::string text = TextOf(messageId, arguments...);
  return text.substr(0, text.find('\n'));
}
// The platform's own text for an error code, and the same without its line end.
std::string SystemText(DWORD code);
std::string SystemReason(DWORD code);

// A folder the test command names in an environment variable (the small
// drives it mounts, folders that a chain of tests shares), as a Windows path
// ending in "\\".
std::string GivenFolder(const char* variable);
// Fills the small drive to its last byte while it lives; only a drive of a
// few megabytes, never the machine's disk.
class FilledDrive {
 public:
  FilledDrive();
  ~FilledDrive();
  FilledDrive(const FilledDrive&) = delete;
  FilledDrive& operator=(const FilledDrive&) = delete;
  const std::string& path() const { return drive_; }

 private:
  std::string drive_;
};

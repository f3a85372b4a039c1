// Works Arkivanto2.exe from outside, as an automation client does: starts a
// copy in a folder of its own, finds the windows of its process, sends and
// posts window messages to them and reads back what they show. Messages
// whose parameters point at memory do not cross processes; those go through
// a block allocated in the program. Every wait is bounded: one that runs out
// fails the case, naming what it waited for and what the program showed.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/handles.h"
#include "support/scratch.h"

// How long one step may take; wine's file dialog needs a second or two the
// first time it opens.
constexpr DWORD kPatience = 10000;

// Windows of any process.
std::string TextOf(HWND window);
void SetTextOf(HWND window, const std::string& text);
// A visible top-level window of any process whose title holds the text.
HWND TopLevelWithTitle(const std::string& part);

// Presses a dialog's button (BM_CLICK); posted, so it queues behind earlier
// input and nothing waits for a dialog the button opens.
void PressButton(HWND dialog, int id);
// A left click at a point of a window's client area, as the mouse sends it.
void ClickAt(HWND window, POINT point);

// Holds a key down in the system's key state (SendInput), where a program
// reads it with GetAsyncKeyState; let go when this ends. Like a real key it
// also reaches the window in front: Esc closes a message box there.
class HeldKey {
 public:
  explicit HeldKey(WORD virtualKey);
  ~HeldKey();
  HeldKey(const HeldKey&) = delete;
  HeldKey& operator=(const HeldKey&) = delete;
  // Another key-down while held, as a keyboard repeats a held key.
  void Repeat() const;

 private:
  WORD key_;
};

// A started process: one still running when its owner lets go is terminated.
struct ProcessTraits {
  static HANDLE Invalid() { return nullptr; }
  static bool Valid(HANDLE h) { return h != nullptr; }
  static void Close(HANDLE h);
};
using ProcessHandle = UniqueOwner<HANDLE, ProcessTraits>;

struct TemplateFile {
  std::string name, content;
};

// What a case starts the program with.
struct Launch {
  std::vector<TemplateFile> templates;  // the "template" folder's files
  // A folder holding Arkivanto2.exe and its "template" folder, such as an
  // unpacked release: the program runs there as it is, not as a copy.
  std::string installed;
};

struct MessageBoxShown {
  HWND window;
  std::string text;
};

// One run of the program: a copy of the built program in a fresh folder of
// its own, or an installed one, started from another working folder. A run
// still going when this ends is terminated, then the folder removed.
class Program {
 public:
  explicit Program(const Launch& launch = {});
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  const std::string& folder() const { return home_.path(); }
  HWND main() const { return main_; }

  // Polls until ready() holds; fails the case when the program ends first or
  // after ms, saying what it waited for and what the program showed.
  void Await(const std::string& what, const std::function<bool()>& ready, DWORD ms = kPatience) const;
  HWND WaitForDialog(const std::string& what, int controlId) const;
  MessageBoxShown WaitForMessageBox(const std::string& what) const;
  // Presses a button of a dialog box and waits until it is gone.
  void Answer(HWND dialog, int button) const;
  void WaitUntilClosed(HWND window, const std::string& what) const;

  // The control with the keyboard focus, as its thread keeps it.
  HWND Focused() const;
  // Focuses a control as a person does: a dialog's own focus move
  // (WM_NEXTDLGCTL), elsewhere a click; waits until it has the focus.
  void Focus(HWND control) const;
  // Focuses a field, selects what it holds and types over it, a WM_CHAR a
  // character; waits until the field shows the text.
  void TypeInto(HWND field, const std::wstring& text) const;
  // A key pressed and let go on the focused control (WM_KEYDOWN, WM_KEYUP).
  void PressKey(WORD virtualKey) const;
  // Keys pressed on the keyboard (SendInput), in order and held until the
  // last, then let go: they reach the main window's thread through the
  // system's input queue with the key state that goes with them.
  void PressKeys(std::initializer_list<WORD> keys) const;
  // Characters typed on the keyboard as an input method hands them over
  // (SendInput with Unicode characters, which arrive as VK_PACKET).
  void TypeOnKeyboard(const std::wstring& text) const;

  // The toolbar: a button clicked where it is, so check buttons toggle.
  void ClickToolbarButton(HWND toolbar, int command) const;

  // A list view's rows: their texts and check boxes.
  int ItemCount(HWND list) const;
  std::string ItemText(HWND list, int row, int column) const;
  bool IsItemChecked(HWND list, int row) const;
  void SetItemChecked(HWND list, int row, bool checked) const;

  // The common dialogs: the open and save dialogs take a path in their
  // file-name field and OK; the folder browser a folder and OK, or Cancel.
  HWND WaitForFileDialog() const;
  void AnswerFileDialog(HWND dialog, const std::string& path) const;
  HWND WaitForFolderBrowser() const;
  void ChooseFolder(HWND browser, const std::string& folder) const;

  // Asks the main window to close; the exit code once the process ended.
  int Close() const;

 private:
  std::string Showing() const;
  // Brings the main window to the front and sends the input there.
  void SendToFront(std::vector<INPUT> strokes) const;
  // A visible, enabled top-level window of the process that matches: the one
  // a person can work with, not one a modal dialog keeps disabled.
  HWND WaitForWindow(const std::string& what, const std::function<bool(HWND)>& match) const;

  ScratchFolder home_{"e2e"};
  FileHandle job_;
  ProcessHandle process_;
  DWORD processId_ = 0, threadId_ = 0;
  HWND main_ = nullptr;
};

// A path CMake gives by its Unix name, as wine reaches it through drive Z:.
std::string WindowsPath(std::string path);

// Text beyond ASCII that the system code page can hold.
std::wstring Localized(const wchar_t* japanese, const wchar_t* western);

// The main window's controls.
HWND TemplateList(const Program& program);
HWND Toolbar(const Program& program);
HWND DestinationField(const Program& program);  // its only edit control

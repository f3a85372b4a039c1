#include "support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <commctrl.h>

#include "core/handles.h"
#include "core/memory.h"
#include "core/messages.h"
#include "core/program_folder.h"
#include "resource.h"
#include "ui/main_window.h"
#include "ui/main_window_state.h"
#include "ui/template_list.h"

int ScriptedPerson::ShowMessage(HWND, const char* text, const char* caption, UINT type) {
  shown.push_back({text ? text : "", caption ? caption : "", type});
  if (onShow) onShow(shown.back());
  if (!answers.empty()) {
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  const UINT buttons = type & MB_TYPEMASK;
  return buttons == MB_OK ? IDOK : IDNO;
}

SHORT ScriptedPerson::KeyState(int virtualKey) {
  if (keys) return keys(virtualKey);
  return std::find(keysDown.begin(), keysDown.end(), virtualKey) != keysDown.end() ? SHORT(0x8000) : 0;
}

bool ScriptedPerson::BrowseForFolder(HWND, const char*, char* path) {
  if (folderAnswer.empty()) return false;
  snprintf(path, MAX_PATH, "%s", folderAnswer.c_str());
  return true;
}

// Records a save or open dialog and gives the answer.
static bool AnswerFileDialog(ScriptedPerson& person, OPENFILENAMEA* dialog, const std::string& answer) {
  person.fileDialogFolders.push_back(dialog->lpstrInitialDir ? dialog->lpstrInitialDir : "");
  if (answer.empty()) return false;
  snprintf(dialog->lpstrFile, dialog->nMaxFile, "%s", answer.c_str());
  return true;
}

bool ScriptedPerson::AskSaveFile(OPENFILENAMEA* dialog) {
  std::string answer;
  if (!saveAnswers.empty()) {
    answer = saveAnswers.front();
    saveAnswers.pop_front();
  }
  return AnswerFileDialog(*this, dialog, answer);
}

bool ScriptedPerson::AskOpenFile(OPENFILENAMEA* dialog) { return AnswerFileDialog(*this, dialog, openAnswer); }

std::string FileRestoreLines(const std::string& entry, const std::string& target) {
  return "IF \"%FILE%\"==\"1\" xcopy \"" + entry + "\\*.*\" \"" + target + "\" /e /c /q /h /r /k /y\r\n" +
         "IF \"%FILE%\"==\"1\" IF ERRORLEVEL 2 SET ARKFAILED=1\r\n" + "IF \"%FILE%\"==\"1\" IF NOT EXIST \"" + entry +
         "\\\" SET ARKFAILED=1\r\n";
}

std::string RegistryRestoreLines(const std::string& entry) {
  return "IF \"%REGI%\"==\"1\" regedit /s \"" + entry + "\"\r\n" +
         "IF \"%REGI%\"==\"1\" IF ERRORLEVEL 1 SET ARKFAILED=1\r\n" + "IF \"%REGI%\"==\"1\" IF NOT EXIST \"" + entry +
         "\" SET ARKFAILED=1\r\n";
}

std::string RowText(int row, int column) {
  char* text = CopyTemplateRowText(row, column);
  const std::string copy = text ? text : "";
  MemFree(text);
  return copy;
}

int RowWith(int column, const std::string& text) {
  for (int row = 0; row < TemplateRowCount(); ++row)
    if (RowText(row, column) == text) return row;
  return -1;
}

std::string TextOf(int messageId) { return LoadMessage(messageId); }

MainWindowFixture::MainWindowFixture() {
  static const bool registered = RegisterMainWindowClass(GetModuleHandleA(nullptr)) != 0;
  (void)registered;
  templateFolder = program / "template\\";
  CreateDirectoryA(templateFolder.c_str(), nullptr);
  SetProgramFolder(program.path().c_str());
  CreateMainWindow(GetModuleHandleA(nullptr), SW_SHOWNOACTIVATE);
}

MainWindowFixture::~MainWindowFixture() {
  DestroyWindow(MainState().window);
  MSG message;  // the quit message the window posted belongs to this window only
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  MainState() = MainWindowState{};
}

void MainWindowFixture::AddTemplate(const std::string& fileName, const std::string& content) {
  WriteFileBytes(templateFolder + fileName, content);
}

void MainWindowFixture::Reload() { Command(110); }

HWND MainWindowFixture::window() const { return MainState().window; }

void MainWindowFixture::Command(int id) { SendMessageA(window(), WM_COMMAND, WPARAM(id), 0); }

void MainWindowFixture::SetPressed(int id, bool pressed) {
  SendMessageA(MainState().toolbar, TB_CHECKBUTTON, WPARAM(id), MAKELPARAM(pressed ? TRUE : FALSE, 0));
}

void MainWindowFixture::SetDestination(const std::string& text) {
  SetWindowTextA(MainState().destinationEdit, text.c_str());
}

void MainWindowFixture::Notify(UINT code, int column) {
  NMLISTVIEW notice = {};
  notice.hdr.hwndFrom = MainState().templateList;
  notice.hdr.idFrom = IDC_TEMPLATE_LIST;
  notice.hdr.code = code;
  notice.iSubItem = column;
  SendMessageA(window(), WM_NOTIFY, IDC_TEMPLATE_LIST, LPARAM(&notice));
}

std::string MainWindowFixture::StatusText() const {
  char text[600] = {};
  SendMessageA(MainState().statusBar, SB_GETTEXTA, 0, LPARAM(text));
  return text;
}

bool MainWindowFixture::BackUpAll(ScriptedPerson& person, const std::string& destination) {
  Command(IDM_CHECK_ALL);
  SetDestination(destination);
  person.answers = {IDYES};
  Command(IDM_DO_BACKUP);
  return !person.shown.empty() && person.shown.back().text == TextOf(IDS_NO_ERROR_CHECK);
}

LoggedBackup::LoggedBackup(const std::string& folder) : destination(target / folder) { main.SetPressed(IDM_LOG, true); }

bool LoggedBackup::Run(const std::string& templateText) {
  if (!templateText.empty()) main.AddTemplate("t.txt", templateText);
  main.Reload();
  return main.BackUpAll(person, destination);
}

int LoggedBackup::Restore(const std::string& from) const {
  return RunAndWait("cmd /c \"\"" + destination + "Restore.bat\"\"", from.empty() ? destination : from);
}

std::string SystemText(DWORD code) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string s = text ? text : "";
  LocalFree(text);
  return s;
}

std::string SystemReason(DWORD code) {
  std::string text = SystemText(code);
  return text.erase(text.find_last_not_of("\r\n") + 1);
}

namespace {
DialogScript* runningScript = nullptr;
constexpr UINT kTickMs = 10;
constexpr int kPatienceTicks = 300;  // about three seconds without a step

BOOL CALLBACK FindEnabledDialog(HWND window, LPARAM found) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (strcmp(name, "#32770") != 0 || !IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The thread's enabled, visible dialog box: the top of a stack of modal ones.
HWND TopDialog() {
  HWND top = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindEnabledDialog, LPARAM(&top));
  return top;
}
}  // namespace

static bool KindOfDialog(HWND dialog, DialogKind* kind) {
  if (!dialog) return false;
  if (GetDlgItem(dialog, IDC_ENTRY_LIST))
    *kind = DialogKind::TemplateEditor;
  else if (GetDlgItem(dialog, IDC_VALUE_LIST))
    *kind = DialogKind::KeyPicker;
  else if (GetDlgItem(dialog, IDC_OVERWRITE))
    *kind = DialogKind::OverwriteQuestion;
  else if (GetDlgItem(dialog, IDC_ABOUT_ICON))
    *kind = DialogKind::About;
  else
    return false;
  return true;
}

DialogScript::DialogScript() {
  runningScript = this;
  timer_ = SetTimer(nullptr, 0, kTickMs, Tick);
}

DialogScript::~DialogScript() {
  KillTimer(nullptr, timer_);
  runningScript = nullptr;
}

DialogScript& DialogScript::Then(DialogKind kind, std::function<void(HWND)> step) {
  return Until(kind, [step = std::move(step)](HWND dialog) {
    step(dialog);
    return true;
  });
}

DialogScript& DialogScript::Until(DialogKind kind, std::function<bool(HWND)> done) {
  steps_.push_back({kind, std::move(done)});
  return *this;
}

void CALLBACK DialogScript::Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (runningScript) runningScript->Run();
}

void DialogScript::Run() {
  HWND dialog = TopDialog();
  DialogKind kind;
  if (!KindOfDialog(dialog, &kind)) return;
  int patience = kPatienceTicks;
  if (!steps_.empty() && steps_.front().kind == kind) {
    // Taken off first: a step that opens another dialog runs the next steps
    // from inside that dialog's loop, through this same timer.
    Step step = std::move(steps_.front());
    steps_.pop_front();
    if (step.action(dialog)) {
      idleTicks_ = 0;
      return;
    }
    steps_.push_front(std::move(step));
    patience = 10 * kPatienceTicks;
  }
  if (++idleTicks_ < patience) return;
  idleTicks_ = 0;
  failures.push_back(steps_.empty() ? "a dialog was left open after the last step"
                                    : "a step waited too long for its dialog or its condition");
  EndDialog(dialog, -2);
}

void Click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

void PostKey(HWND dialog, UINT message, WPARAM key) {
  HWND focus = GetFocus();
  if (!focus || (focus != dialog && !IsChild(dialog, focus))) focus = dialog;
  // Bit 29 says Alt is held, as a system key needs.
  const LPARAM flags = message == WM_SYSKEYDOWN ? LPARAM(1) | (LPARAM(1) << 29) : LPARAM(1);
  PostMessageA(focus, message, key, flags);
}

std::string ItemText(HWND dialog, int id) {
  std::string text(size_t(GetWindowTextLengthA(GetDlgItem(dialog, id))) + 1, '\0');
  GetDlgItemTextA(dialog, id, text.data(), int(text.size()));
  text.resize(strlen(text.c_str()));
  return text;
}

void SelectRows(HWND list, std::initializer_list<int> rows) {
  LVITEMA item = {.stateMask = LVIS_SELECTED};
  SendMessageA(list, LVM_SETITEMSTATE, WPARAM(-1), LPARAM(&item));
  item.state = LVIS_SELECTED;
  for (int row : rows) SendMessageA(list, LVM_SETITEMSTATE, WPARAM(row), LPARAM(&item));
}

void SetItemText(HWND dialog, int id, const std::string& text) { SetDlgItemTextA(dialog, id, text.c_str()); }

std::vector<HTREEITEM> TreeChildren(HWND tree, HTREEITEM parent) {
  std::vector<HTREEITEM> items;
  auto next = [tree](HTREEITEM item, UINT relation) {
    return HTREEITEM(SendMessageA(tree, TVM_GETNEXTITEM, relation, LPARAM(item)));
  };
  for (HTREEITEM i = next(parent, parent ? TVGN_CHILD : TVGN_ROOT); i; i = next(i, TVGN_NEXT)) items.push_back(i);
  return items;
}

std::string TreeText(HWND tree, HTREEITEM item) {
  char text[1024] = {};
  TVITEMA get = {.mask = TVIF_HANDLE | TVIF_TEXT, .hItem = item, .pszText = text, .cchTextMax = sizeof text - 1};
  SendMessageA(tree, TVM_GETITEMA, 0, LPARAM(&get));
  return text;
}

HTREEITEM OpenTreePath(HWND tree, const std::vector<std::string>& names) {
  HTREEITEM item = nullptr;
  for (const std::string& name : names) {
    HTREEITEM found = nullptr;
    for (HTREEITEM child : TreeChildren(tree, item))
      if (TreeText(tree, child) == name) found = child;
    if (!found) return nullptr;
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, LPARAM(found));
    item = found;
  }
  return item;
}

std::function<void(HWND)> PickKey(const std::vector<std::string>& names, int button) {
  return [names, button](HWND picker) {
    HWND tree = GetDlgItem(picker, IDC_KEY_TREE);
    // A missing key cancels, so the caller finds nothing picked.
    HTREEITEM item = OpenTreePath(tree, names);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(item));
    Click(picker, item ? button : IDCANCEL);
  };
}

std::string GivenFolder(const char* variable) {
  const char* path = getenv(variable);
  REQUIRE_MESSAGE(path, variable << " is not set: run the tests through CTest");
  std::string windows = path;
  if (!windows.empty() && windows.back() != '\\') windows += '\\';
  return windows;
}

FilledDrive::FilledDrive() : drive_(GivenFolder("ARK_SMALL_DRIVE")) {
  ULARGE_INTEGER total = {};
  REQUIRE(GetDiskFreeSpaceExA(drive_.c_str(), nullptr, &total, nullptr));
  REQUIRE(total.QuadPart < 16 * 1024 * 1024);
  FileHandle filler(CreateFileA((drive_ + "filler").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  const std::string block(4096, 'x');
  DWORD written = 0;
  while (WriteFile(filler.get(), block.data(), DWORD(block.size()), &written, nullptr) && written == block.size()) {
  }
  while (WriteFile(filler.get(), block.data(), 1, &written, nullptr) && written == 1) {
  }
}

FilledDrive::~FilledDrive() { DeleteFileA((drive_ + "filler").c_str()); }

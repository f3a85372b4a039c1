// The end-to-end program: the driver, the cases and doctest's own runner.
#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include "e2e/driver.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>

#include <doctest.h>

#include "resource.h"

namespace {

// The file-name combo box of the explorer-style file dialog, the one the
// program gets with neither hook nor template.
constexpr int kFileNameCombo = 0x47c;
// A message box's text.
constexpr int kMessageBoxText = 0xffff;

// Reports are read on a UTF-8 terminal; the program's texts are in the
// system code page.
std::string Report(const std::string& text) { return Utf8(Wide(text)); }

// A window's text as the system keeps it, read without a message to a
// program that may be stuck.
std::string CaptionOf(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// A dialog box (class "#32770") that holds a control with that number.
bool IsDialogWith(HWND window, int controlId) {
  return ClassOf(window) == "#32770" && GetDlgItem(window, controlId) != nullptr;
}

// A sent message that the other process answers within the patience;
// anything else fails the case instead of hanging it.
LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kPatience, &result))
    return LRESULT(result);
  if (!IsWindow(window)) FAIL("a window closed before it answered message " << message);
  FAIL("the " << ClassOf(window) << " window did not answer message " << message);
  return 0;
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!PostMessageA(window, message, wParam, lParam))
    FAIL("could not post message " << message << " to the " << ClassOf(window) << " window");
}

// A block of memory in another process, for messages that carry pointers.
class RemoteBlock {
 public:
  RemoteBlock(HANDLE process, size_t size)
      : process_(process), address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {
    if (!address_) FAIL("could not allocate memory in the program");
  }
  ~RemoteBlock() { VirtualFreeEx(process_, address_, 0, MEM_RELEASE); }
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;

  LPARAM at(size_t offset = 0) const { return LPARAM(static_cast<char*>(address_) + offset); }
  void Write(const void* data, size_t size, size_t offset = 0) const {
    if (!WriteProcessMemory(process_, reinterpret_cast<void*>(at(offset)), data, size, nullptr))
      FAIL("could not write the program's memory");
  }
  void Read(void* data, size_t size, size_t offset = 0) const {
    if (!ReadProcessMemory(process_, reinterpret_cast<void*>(at(offset)), data, size, nullptr))
      FAIL("could not read the program's memory");
  }

 private:
  HANDLE process_;  // not owned
  void* address_;
};

// From the top of the Z order down, as EnumWindows lists them.
std::vector<HWND> TopLevelWindows(DWORD processId) {
  std::vector<HWND> found;
  for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT)) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    if (id == processId && IsWindowVisible(window)) found.push_back(window);
  }
  return found;
}

bool IsMessageBox(HWND window) { return IsDialogWith(window, kMessageBoxText); }

}  // namespace

std::string TextOf(HWND window) {
  const size_t length = size_t(Send(window, WM_GETTEXTLENGTH, 0, 0));
  std::string text(length + 1, '\0');
  text.resize(size_t(Send(window, WM_GETTEXT, WPARAM(text.size()), LPARAM(text.data()))));
  return text;
}

void SetTextOf(HWND window, const std::string& text) { Send(window, WM_SETTEXT, 0, LPARAM(text.c_str())); }

HWND TopLevelWithTitle(const std::string& part) {
  for (HWND window = GetTopWindow(nullptr); window; window = GetWindow(window, GW_HWNDNEXT))
    if (IsWindowVisible(window) && CaptionOf(window).find(part) != std::string::npos) return window;
  return nullptr;
}

void PressButton(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) FAIL("the dialog \"" << TextOf(dialog) << "\" has no button " << id);
  Post(button, BM_CLICK, 0, 0);
}

void ClickAt(HWND window, POINT point) {
  Post(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(point.x, point.y));
  Post(window, WM_LBUTTONUP, 0, MAKELPARAM(point.x, point.y));
}

HeldKey::HeldKey(WORD virtualKey) : key_(virtualKey) { Repeat(); }

void HeldKey::Repeat() const {
  INPUT input = {.type = INPUT_KEYBOARD, .ki = {.wVk = key_}};
  if (SendInput(1, &input, sizeof input) != 1) FAIL("could not press key " << key_);
}

HeldKey::~HeldKey() {
  INPUT input = {.type = INPUT_KEYBOARD, .ki = {.wVk = key_, .dwFlags = KEYEVENTF_KEYUP}};
  SendInput(1, &input, sizeof input);
}

Program::Program(const Launch& launch) {
  const std::string copy = launch.installed.empty() ? home_ / "Arkivanto2.exe" : launch.installed + "Arkivanto2.exe";
  if (launch.installed.empty()) {
    const std::string original = WindowsPath(ARK_E2E_PROGRAM);
    if (!CopyFileA(original.c_str(), copy.c_str(), FALSE)) FAIL("could not copy " << original);
    CreateDirectoryA((home_ / "template").c_str(), nullptr);
    for (const TemplateFile& file : launch.templates) WriteFileBytes(home_ / "template\\" + file.name, file.content);
  }

  // Should this driver die, the job takes the program with it.
  job_.reset(CreateJobObjectA(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job_) SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

  // Started from the temporary folder: the program must find its own.
  char workingFolder[MAX_PATH] = {};
  GetTempPathA(sizeof workingFolder, workingFolder);
  std::string line = "\"" + copy + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessA(copy.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, workingFolder,
                      &startup, &started))
    FAIL("could not start " << copy << " (error " << GetLastError() << ")");
  process_.reset(started.hProcess);
  FileHandle thread(started.hThread);
  processId_ = started.dwProcessId;
  if (job_) AssignProcessToJobObject(job_.get(), process_.get());
  ResumeThread(thread.get());

  main_ = WaitForWindow("the main window", [](HWND w) { return ClassOf(w) == "Arkivanto2"; });
  threadId_ = GetWindowThreadProcessId(main_, nullptr);
}

void ProcessTraits::Close(HANDLE process) {
  if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, kPatience);
  }
  CloseHandle(process);
}

std::string Program::Showing() const {
  std::string shown;
  for (HWND window : TopLevelWindows(processId_)) {
    shown += "\n  " + ClassOf(window) + " \"" + CaptionOf(window) + "\"";
    if (!IsWindowEnabled(window)) shown += " (disabled)";
    if (IsMessageBox(window)) shown += ": " + CaptionOf(GetDlgItem(window, kMessageBoxText));
  }
  return shown.empty() ? " no window" : shown;
}

void Program::Await(const std::string& what, const std::function<bool()>& ready, DWORD ms) const {
  const ULONGLONG end = GetTickCount64() + ms;
  while (!ready()) {
    DWORD code = 0;
    if (GetExitCodeProcess(process_.get(), &code) && code != STILL_ACTIVE)
      FAIL(Report("the program ended with exit code " + std::to_string(code) + " while the case waited for " + what));
    if (GetTickCount64() > end)
      FAIL(Report("timed out after " + std::to_string(ms / 1000) + " s waiting for " + what +
                  "; the program showed:" + Showing()));
    Sleep(20);
  }
}

HWND Program::WaitForWindow(const std::string& what, const std::function<bool(HWND)>& match) const {
  HWND found = nullptr;
  Await(what, [&] {
    for (HWND window : TopLevelWindows(processId_))
      if (IsWindowEnabled(window) && match(window)) found = window;
    return found != nullptr;
  });
  return found;
}

HWND Program::WaitForDialog(const std::string& what, int controlId) const {
  return WaitForWindow(what, [&](HWND w) { return IsDialogWith(w, controlId); });
}

MessageBoxShown Program::WaitForMessageBox(const std::string& what) const {
  HWND box = WaitForWindow(what, IsMessageBox);
  return {box, TextOf(GetDlgItem(box, kMessageBoxText))};
}

void Program::Answer(HWND dialog, int button) const {
  const std::string caption = TextOf(dialog);
  PressButton(dialog, button);
  WaitUntilClosed(dialog, "the dialog \"" + caption + "\" to close");
}

void Program::WaitUntilClosed(HWND window, const std::string& what) const {
  Await(what, [&] { return !IsWindow(window); });
}

HWND Program::Focused() const {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(threadId_, &info) ? info.hwndFocus : nullptr;
}

void Program::Focus(HWND control) const {
  HWND root = GetAncestor(control, GA_ROOT);
  if (ClassOf(root) == "#32770")
    Post(root, WM_NEXTDLGCTL, WPARAM(control), TRUE);
  else
    ClickAt(control, {2, 2});
  Await("the focus on the " + ClassOf(control) + " control", [&] { return Focused() == control; });
}

void Program::TypeInto(HWND field, const std::wstring& text) const {
  Focus(field);
  Post(field, EM_SETSEL, 0, -1);
  // Posted as UTF-16: wine hands a window that reads ANSI the character's
  // bytes in the system code page, both of a double-byte one.
  for (wchar_t c : text)
    if (!PostMessageW(field, WM_CHAR, WPARAM(c), 1)) FAIL("could not post a character");
  const std::string expected = Ansi(text);
  Await("the field to show \"" + expected + "\"", [&] { return TextOf(field) == expected; });
}

void Program::PressKey(WORD virtualKey) const {
  HWND target = Focused();
  if (!target) FAIL("no control of the program has the focus to press a key on");
  const LPARAM scan = LPARAM(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC)) << 16;
  Post(target, WM_KEYDOWN, virtualKey, scan | 1);
  Post(target, WM_KEYUP, virtualKey, scan | 1 | (LPARAM(3) << 30));
}

void Program::SendToFront(std::vector<INPUT> strokes) const {
  SetForegroundWindow(main_);
  Await("the main window in front", [&] { return GetForegroundWindow() == main_; });
  if (SendInput(UINT(strokes.size()), strokes.data(), sizeof(INPUT)) != strokes.size())
    FAIL("could not send the keyboard's input");
}

void Program::PressKeys(std::initializer_list<WORD> keys) const {
  std::vector<INPUT> strokes;
  for (WORD key : keys) strokes.push_back({.type = INPUT_KEYBOARD, .ki = {.wVk = key}});
  for (auto key = keys.end(); key != keys.begin();)
    strokes.push_back({.type = INPUT_KEYBOARD, .ki = {.wVk = *--key, .dwFlags = KEYEVENTF_KEYUP}});
  SendToFront(strokes);
}

void Program::TypeOnKeyboard(const std::wstring& text) const {
  std::vector<INPUT> strokes;
  for (wchar_t c : text)
    for (DWORD up : {DWORD(0), DWORD(KEYEVENTF_KEYUP)})
      strokes.push_back({.type = INPUT_KEYBOARD, .ki = {.wScan = WORD(c), .dwFlags = KEYEVENTF_UNICODE | up}});
  SendToFront(strokes);
}

void Program::ClickToolbarButton(HWND toolbar, int command) const {
  RemoteBlock rect(process_.get(), sizeof(RECT));
  if (!Send(toolbar, TB_GETRECT, WPARAM(command), rect.at())) FAIL("the toolbar has no button " << command);
  RECT r = {};
  rect.Read(&r, sizeof r);
  ClickAt(toolbar, {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

int Program::ItemCount(HWND list) const { return int(Send(list, LVM_GETITEMCOUNT, 0, 0)); }

std::string Program::ItemText(HWND list, int row, int column) const {
  constexpr int kRoom = 1024;
  RemoteBlock block(process_.get(), sizeof(LVITEMA) + kRoom);
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = reinterpret_cast<char*>(block.at(sizeof item));
  item.cchTextMax = kRoom;
  block.Write(&item, sizeof item);
  std::string text(size_t(kRoom), '\0');
  const size_t length = size_t(Send(list, LVM_GETITEMTEXTA, WPARAM(row), block.at()));
  block.Read(text.data(), text.size(), sizeof item);
  text.resize(std::min(length, text.size() - 1));
  return text;
}

bool Program::IsItemChecked(HWND list, int row) const {
  const UINT state = UINT(Send(list, LVM_GETITEMSTATE, WPARAM(row), LVIS_STATEIMAGEMASK));
  return (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
}

void Program::SetItemChecked(HWND list, int row, bool checked) const {
  RemoteBlock block(process_.get(), sizeof(LVITEMA));
  LVITEMA item = {};
  item.stateMask = LVIS_STATEIMAGEMASK;
  item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
  block.Write(&item, sizeof item);
  Send(list, LVM_SETITEMSTATE, WPARAM(row), block.at());
}

HWND Program::WaitForFileDialog() const {
  return WaitForWindow("the file dialog", [](HWND w) { return IsDialogWith(w, kFileNameCombo); });
}

void Program::AnswerFileDialog(HWND dialog, const std::string& path) const {
  // A drop-down combo box shows its text in its edit control.
  SetTextOf(GetDlgItem(dialog, kFileNameCombo), path);
  PressButton(dialog, IDOK);
  // An overwrite prompt, owned by the dialog, disables it.
  Await("the file dialog to take " + path,
        [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog) || !IsWindowEnabled(dialog); });
}

HWND Program::WaitForFolderBrowser() const {
  return WaitForWindow("the folder browser", [](HWND w) {
    return ClassOf(w) == "#32770" && FindWindowExA(w, nullptr, WC_TREEVIEWA, nullptr) && !GetDlgItem(w, IDC_KEY_TREE);
  });
}

void Program::ChooseFolder(HWND browser, const std::string& folder) const {
  // The browser selects a path the way its owner's callback would ask it to.
  RemoteBlock path(process_.get(), folder.size() + 1);
  path.Write(folder.c_str(), folder.size() + 1);
  Send(browser, BFFM_SETSELECTIONA, TRUE, path.at());
  Answer(browser, IDOK);
}

int Program::Close() const {
  Post(main_, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process_.get(), kPatience) != WAIT_OBJECT_0)
    FAIL(Report("the program did not end within " + std::to_string(kPatience / 1000) + " s; it showed:" + Showing()));
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return int(code);
}

std::string WindowsPath(std::string path) {
  if (path.starts_with("/")) path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::wstring Localized(const wchar_t* japanese, const wchar_t* western) {
  return JapaneseSystem() ? japanese : western;
}

HWND TemplateList(const Program& program) { return GetDlgItem(program.main(), IDC_TEMPLATE_LIST); }
HWND Toolbar(const Program& program) { return FindWindowExA(program.main(), nullptr, TOOLBARCLASSNAMEA, nullptr); }
HWND DestinationField(const Program& program) { return FindWindowExA(program.main(), nullptr, "Edit", nullptr); }

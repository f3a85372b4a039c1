#include "ui/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>

#include "backup/backup_check.h"
#include "backup/backup_run.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/interaction.h"
#include "core/messages.h"
#include "core/program_folder.h"
#include "core/wide_text.h"

namespace {

constexpr int kBadCommandLine = 2;
constexpr size_t kLineRoom = 4096;  // the usage is the longest text

// Where the report goes. The program is a window program, so it has no
// console of its own: it writes to an output the caller redirected (a file
// or a pipe, in UTF-8), or else to the console of the process that started
// it (cmd), in its own characters.
class ConsoleOutput {
 public:
  ConsoleOutput() {
    HANDLE given = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (given && given != INVALID_HANDLE_VALUE && GetFileType(given) != FILE_TYPE_UNKNOWN) {
      handle_ = given;
      console_ = GetConsoleMode(given, &mode) != FALSE;
    } else if (AttachConsole(ATTACH_PARENT_PROCESS)) {
      attached_.reset(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
      handle_ = attached_.get();
      console_ = bool(attached_);
      // cmd does not wait for a window program: its prompt is already out.
      if (console_) Write(L"\r\n");
    }
  }
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  void Write(const wchar_t* text) {
    if (!handle_ || handle_ == INVALID_HANDLE_VALUE) return;
    DWORD done = 0;
    if (console_) {
      WriteConsoleW(handle_, text, DWORD(wcslen(text)), &done, nullptr);
      return;
    }
    TextBuffer utf8;
    if (AppendUtf8(text, wcslen(text), &utf8) && utf8.text) WriteFile(handle_, utf8.text, utf8.length, &done, nullptr);
  }
  // UTF-8 text with its line ends, such as a check's report.
  void WriteUtf8(const char* text, size_t length) {
    HeapBlock wide(WideFromBytes(CP_UTF8, text, length));
    if (wide) Write(reinterpret_cast<wchar_t*>(wide.get()));
  }
  // Code-page text, such as a message box's, as lines ending in CR LF.
  void WriteCodePage(const char* text) {
    TextBuffer lines;
    for (const char* p = text; *p; ++p) {
      if (*p == '\n' && (p == text || p[-1] != '\r')) TextBufferAppendChar(&lines, '\r');
      TextBufferAppendChar(&lines, *p);
    }
    TextBufferAppend(&lines, "\r\n");
    if (!lines.text) return;
    HeapBlock wide(WideFromBytes(CP_ACP, lines.text, lines.length));
    if (wide) Write(reinterpret_cast<wchar_t*>(wide.get()));
  }
  void WriteMessage(int messageId, const wchar_t* argument = L"") {
    wchar_t line[kLineRoom];
    FormatCatalogueText(line, kLineRoom, messageId, argument);
    Write(line);
    Write(L"\r\n");
  }

 private:
  HANDLE handle_ = nullptr;  // not owned unless it is attached_
  FileHandle attached_;
  bool console_ = false;
};

// Answers the run's questions as the command line says, and prints every
// message instead of showing it: the last confirmation Yes (not printed),
// "append to Restore.bat?" Yes unless /overwrite, retries and "stop?" No.
class CommandLinePerson final : public Person {
 public:
  CommandLinePerson(ConsoleOutput& output, bool overwrite) : output_(output), overwrite_(overwrite) {
    previous_ = SetPerson(this);
  }
  ~CommandLinePerson() override { SetPerson(previous_); }
  CommandLinePerson(const CommandLinePerson&) = delete;
  CommandLinePerson& operator=(const CommandLinePerson&) = delete;

  int ShowMessage(HWND, const char* text, const char*, UINT type) override {
    const UINT buttons = type & MB_TYPEMASK;
    const char* start = LoadMessage(IDS_START_BACKUP);
    if (buttons == MB_YESNO && start && strncmp(text, start, strlen(start)) == 0) return IDYES;
    output_.WriteCodePage(text);
    if (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) {
      const char* append = LoadMessage(IDS_BATCH_EXISTS_APPEND);
      return append && strcmp(text, append) == 0 && !overwrite_ ? IDYES : IDNO;
    }
    return buttons == MB_OK ? IDOK : IDCANCEL;
  }
  SHORT KeyState(int) override { return 0; }  // no Esc, no Shift
  void Now(SYSTEMTIME* time) override { ::GetLocalTime(time); }
  bool BrowseForFolder(HWND, const char*, char*) override { return false; }
  bool AskSaveFile(OPENFILENAMEA*) override { return false; }
  bool AskOpenFile(OPENFILENAMEA*) override { return false; }
  void SendSoundCommand(const char*) override {}

 private:
  ConsoleOutput& output_;
  bool overwrite_;
  Person* previous_ = nullptr;
};

// The run's progress as lines of text; no window to own its questions.
class ConsoleView final : public BackupView {
 public:
  explicit ConsoleView(ConsoleOutput& output) : output_(output) {}
  HWND Owner() override { return nullptr; }
  void ShowStatus(const char* text) override { output_.WriteCodePage(text); }
  void ShowWork(const char*) override {}  // a line a template is enough
  void StartRunBar(unsigned) override {}
  void StepRunBar() override {}
  void StartTemplateBar(unsigned) override {}
  void StepTemplateBar() override {}
  void EnableControls(bool) override {}
  void TemplateSucceeded(int) override {}

 private:
  ConsoleOutput& output_;
};

bool IsSwitch(const wchar_t* argument, const wchar_t* name) {
  return CompareStringOrdinal(argument, -1, name, -1, TRUE) == CSTR_EQUAL;
}

int Refuse(ConsoleOutput& output, int messageId, const wchar_t* argument) {
  output.WriteMessage(messageId, argument);
  output.WriteMessage(IDS_COMMAND_USAGE);
  return kBadCommandLine;
}

// A folder named on the command line, made whole against the folder the
// program was started in, in the code page the engine works in.
bool DestinationInCodePage(const wchar_t* argument, PathText* out) {
  wchar_t full[kPathSize];
  const DWORD length = GetFullPathNameW(argument, kPathSize, full, nullptr);
  return length > 0 && length < kPathSize && InCodePage(full, out);
}

// Adds a template of the template folder by its file name, with the name
// its first line gives it.
bool AddTemplateFile(BackupRequest* request, const char* fileName) {
  PathText path;
  if (!TemplateFilePath(fileName, &path) || GetFileAttributesA(path.s) == INVALID_FILE_ATTRIBUTES) return false;
  FileHandle file(CreateFileA(path.s, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  HeapBlock name(file ? ReadLineFromFile(file.get()) : nullptr);
  return request->AddTemplate(int(request->templates().size()), name ? name.get() : fileName, fileName);
}

// Every "*.txt" of the template folder, as the window lists them.
void AddEveryTemplate(BackupRequest* request) {
  PathText pattern;
  if (!TemplateFolderPath(&pattern) || !pattern.Append("*.txt")) return;
  WIN32_FIND_DATAA found;
  FindHandle find(FindFirstFileA(pattern.s, &found));
  if (!find) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) AddTemplateFile(request, found.cFileName);
  } while (FindNextFileA(find.get(), &found));
}

int Backup(ConsoleOutput& output, int count, wchar_t** arguments) {
  if (count < 3 || arguments[2][0] == L'/') return Refuse(output, IDS_COMMAND_UNKNOWN, arguments[1]);
  BackupRequest request;
  bool append = false, overwrite = false, named = false;
  for (int i = 3; i < count; ++i) {
    const wchar_t* a = arguments[i];
    if (IsSwitch(a, L"/date"))
      request.options.addDate = true;
    else if (IsSwitch(a, L"/log"))
      request.options.writeLog = true;
    else if (IsSwitch(a, L"/regedit"))
      request.options.useRegedit = true;
    else if (IsSwitch(a, L"/portable"))
      request.options.portableRestore = true;
    else if (IsSwitch(a, L"/zip"))
      request.options.compression = kZipCompression;
    else if (IsSwitch(a, L"/append"))
      append = true;
    else if (IsSwitch(a, L"/overwrite"))
      overwrite = true;
    else if (a[0] == L'/')
      return Refuse(output, IDS_COMMAND_UNKNOWN, a);
    else
      named = true;
  }
  if (append && overwrite) return Refuse(output, IDS_COMMAND_UNKNOWN, L"/append /overwrite");
  PathText destination;
  if (!DestinationInCodePage(arguments[2], &destination))
    return Refuse(output, IDS_COMMAND_NOT_IN_CODE_PAGE, arguments[2]);
  memcpy(request.destination, destination.s, destination.length + 1);
  // Template paths resolve in the program's folder, as in the window.
  SetCurrentDirectoryA(ProgramFolder());
  for (int i = 3; i < count; ++i) {
    if (arguments[i][0] == L'/') continue;
    PathText fileName;
    if (!InCodePage(arguments[i], &fileName)) return Refuse(output, IDS_COMMAND_NOT_IN_CODE_PAGE, arguments[i]);
    if (!AddTemplateFile(&request, fileName.s)) {
      output.WriteMessage(IDS_COMMAND_NO_TEMPLATE, arguments[i]);
      return kBadCommandLine;
    }
  }
  if (!named) AddEveryTemplate(&request);
  CommandLinePerson person(output, overwrite);
  ConsoleView view(output);
  const BackupOutcome outcome = RunBackup(request, view);
  if (!outcome.started) return kBadCommandLine;
  return outcome.failures ? 1 : 0;
}

int Check(ConsoleOutput& output, CheckKind kind, int count, wchar_t** arguments) {
  if (count != 3 || arguments[2][0] == L'/') return Refuse(output, IDS_COMMAND_UNKNOWN, arguments[1]);
  PathText destination;
  if (!DestinationInCodePage(arguments[2], &destination))
    return Refuse(output, IDS_COMMAND_NOT_IN_CODE_PAGE, arguments[2]);
  CheckReport report;
  const int result = RunBackupCheck(kind, destination.s, &report);
  if (report.text.text) output.WriteUtf8(report.text.text, report.text.length);
  return result;
}

}  // namespace

int RunCommandLine(const wchar_t* commandLine) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(commandLine, &count);
  if (!arguments) return -1;
  struct Arguments {
    wchar_t** list;
    ~Arguments() { LocalFree(list); }
  } owner{arguments};
  if (count < 2) return -1;
  ConsoleOutput output;
  const wchar_t* command = arguments[1];
  if (IsSwitch(command, L"/?")) {
    output.WriteMessage(IDS_COMMAND_USAGE);
    return 0;
  }
  if (IsSwitch(command, L"/backup")) return Backup(output, count, arguments);
  if (IsSwitch(command, L"/verify")) return Check(output, CheckKind::kVerify, count, arguments);
  if (IsSwitch(command, L"/preview")) return Check(output, CheckKind::kPreview, count, arguments);
  return Refuse(output, IDS_COMMAND_UNKNOWN, command);
}

#include "backup/backup_run.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "backup/backup_log.h"
#include "backup/manifest.h"
#include "backup/restore_script.h"
#include "backup/template_interpreter.h"
#include "core/errors.h"
#include "core/files.h"
#include "core/fixed_texts.h"
#include "core/interaction.h"
#include "core/messages.h"
#include "core/notices.h"
#include "core/program_folder.h"
#include "core/wide_text.h"
#include "operations/progress_window.h"
#include "operations/zip_archive.h"
#include "core/paths.h"
#include "resource.h"

namespace {

// Room for the longest file written into the destination.
constexpr size_t kLongestDestinationFile = sizeof "manifest.sha256.tmp" - 1;

// Formats a catalogue text with one text argument, then appends the system's
// text for a code, into a new buffer.
void FormatWithReason(TextBuffer* out, int messageId, const char* argument, DWORD code) {
  const char* format = LoadMessage(messageId);
  HeapBlock text(MemAlloc(strlen(format) + strlen(argument) + 1));
  if (text) {
    snprintf(text.get(), strlen(format) + strlen(argument) + 1, format, argument);
    TextBufferAppend(out, text.get());
  }
  AppendSystemErrorText(out, code);
}

// Status text, with the error count added once something has failed.
const char* WithErrorCount(const char* text, int errorCount, char* room, size_t size) {
  if (errorCount <= 0) return text;
  snprintf(room, size, LoadMessage(IDS_STATUS_ERRORS), text, errorCount);
  return room;
}

void ShowStatusCounted(BackupView& view, const char* text, int errorCount) {
  char counted[kPathSize * 3];
  view.ShowStatus(WithErrorCount(text, errorCount, counted, sizeof counted));
}

// The folder a ZIP backup is made in before it is packed, beside the archive.
constexpr char kArchiveFolderSuffix[] = ".files";

// Adds the date to the destination: after a folder's name, before a ZIP
// archive's extension.
bool AddDate(PathText* destination, bool archive) {
  SYSTEMTIME now;
  LocalNow(&now);
  char date[16];
  snprintf(date, sizeof date, "%04d%02d%02d", now.wYear, now.wMonth, now.wDay);
  const char* extension = archive ? FindLastChar(FindFileNamePart(destination->s), '.') : nullptr;
  if (!extension) return destination->Append(date);
  PathText tail;
  tail.Set(extension);
  destination->Truncate(size_t(extension - destination->s));
  return destination->Append(date) && destination->Append(tail.s);
}

// Reads and checks the destination; false when the run must not start.
bool PrepareDestination(HWND owner, const char* typed, bool addDate, bool archive, PathText* destination) {
  destination->Set(typed);
  if (addDate) AddDate(destination, archive);
  // The destination with its separator and the files the run writes there
  // must stay within the path limit, or nothing could be written safely.
  PathText longest = *destination;
  if (destination->overflowed || !longest.EnsureSeparator() ||
      longest.length + kLongestDestinationFile + (archive ? sizeof kArchiveFolderSuffix : 0) >= kPathSize) {
    ShowSystemError(owner, ERROR_FILENAME_EXCED_RANGE, typed);
    return false;
  }
  const bool exists = GetFileAttributesA(destination->s) != INVALID_FILE_ATTRIBUTES;
  if (archive && FolderExists(destination->s)) {
    ShowSystemError(owner, ERROR_ALREADY_EXISTS, destination->s);
    return false;
  }
  if (!archive && exists && !FolderExists(destination->s)) {
    ShowError(owner, LoadMessage(IDS_DESTINATION_IS_FILE));
    return false;
  }
  TextBuffer question;
  TextBufferAppend(&question, LoadMessage(IDS_START_BACKUP));
  TextBufferAppend(&question, destination->s);
  TextBufferAppend(&question, "\n");
  TextBufferAppend(&question, LoadMessage(archive                        ? IDS_ARCHIVE_WILL_BE_WRITTEN
                                          : FolderExists(destination->s) ? IDS_DIRECTORY_EXISTS
                                                                         : IDS_DIRECTORY_WILL_BE_CREATED));
  return question.text && AskYesNo(owner, question.text, IDS_CAPTION_LAST_CONFIRM, MB_ICONQUESTION);
}

// Two checked templates with one folder line would mix their copies (and
// one's .reg files would replace the other's): the run does not start.
bool FoldersAreDistinct(HWND owner, const BackupRequest& request) {
  const HeapList<BackupItem>& items = request.templates();
  HeapList<char*> folders;
  bool distinct = true;
  for (size_t i = 0; i < items.size() && distinct; ++i) {
    PathText path;
    char* folder = nullptr;
    if (TemplateFilePath(items[i].fileName, &path)) {
      HeapBlock text(ReadTemplateText(path.s, nullptr));
      char* cursor = text.get();
      const char* line = nullptr;
      for (int n = 0; n < 3 && cursor; ++n) line = TakeLine(&cursor);
      // A template that cannot be read is reported by the run itself.
      if (text && line) {
        folder = CopyText(line);
        while (folder && RemoveTrailingSeparator(folder)) {
        }
      }
    }
    for (size_t j = 0; j < i && folder && distinct; ++j) {
      if (!folders[j] || lstrcmpiA(folders[j], folder) != 0) continue;
      const char* format = LoadMessage(IDS_SAME_FOLDER);
      const size_t size = strlen(format) + strlen(items[j].name) + strlen(items[i].name) + strlen(folder) + 1;
      HeapBlock message(MemAlloc(size));
      if (message) snprintf(message.get(), size, format, items[j].name, items[i].name, folder);
      ShowError(owner, message ? message.get() : format);
      distinct = false;
    }
    if (!folders.Push(folder)) MemFree(folder);
  }
  for (char* folder : folders) MemFree(folder);
  return distinct;
}

// Makes the destination; when it cannot be made, says why and returns false.
bool CreateDestination(HWND owner, const char* destination) {
  const DWORD code = DWORD(CreateDirectoryPath(destination));
  if (code == 0) return true;
  TextBuffer reason;
  TextBufferInit(&reason);
  FormatWithReason(&reason, IDS_CANT_CREATE_DESTINATION, destination, code);
  ShowError(owner, reason.text ? reason.text : destination);
  return false;
}

// Waits (five seconds at most) for a held key to be let go, then drops the
// key presses queued meanwhile: a held Esc repeats, and would answer the
// next message box.
void AwaitKeyRelease(int key) {
  for (int i = 0; i < 500 && (KeyState(key) & 0x8000); ++i) Sleep(10);
  MSG message;
  while (PeekMessageA(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
}

// The run as its templates and operations see it. One bar goes forward over
// the whole run, by templates and by lines within each; each file and key
// done is counted, and the status bar and the progress window (made for the
// first one, so that entries which copy nothing show no window) name the
// current one. Esc is looked at between templates, files and keys: pressed
// (not merely still held), it asks whether to stop.
class RunWatch final : public BackupView, public RunProgress {
 public:
  explicit RunWatch(BackupView& view) : view_(view) {}
  void StartTemplate(const char* name, int errorCount) {
    name_ = name;
    errors_ = errorCount;
  }
  // Looks at Esc now; true when the run is to stop.
  bool LookNow() { return stopped_ || LookAtEscape(); }
  bool stopped() const { return stopped_; }
  // The templates are done: the progress window goes.
  void CloseWindow() { window_.reset(); }

  HWND Owner() override { return view_.Owner(); }
  void ShowStatus(const char* text) override { view_.ShowStatus(text); }
  void StartRunBar(unsigned steps) override {
    templates_ = steps;
    view_.StartRunBar(steps);
  }
  void StepRunBar() override {
    ++templatesDone_;
    lines_ = linesDone_ = 0;
    view_.StepRunBar();
    ShowPosition();
  }
  void StartTemplateBar(unsigned steps) override {
    lines_ = steps;
    linesDone_ = 0;
    view_.StartTemplateBar(steps);
  }
  void StepTemplateBar() override {
    ++linesDone_;
    view_.StepTemplateBar();
    ShowPosition();
  }
  void EnableControls(bool enable) override { view_.EnableControls(enable); }
  void TemplateSucceeded(int row) override { view_.TemplateSucceeded(row); }

  void Done(int captionId, const wchar_t* item) override {
    ++items_;
    DrainMessages();
    const ULONGLONG now = GetTickCount64();
    if (shownAt_ != 0 && now - shownAt_ < 100) return;
    shownAt_ = now;
    if (!window_) window_.emplace(captionId);
    window_->SetCaption(captionId);
    window_->SetText(item);
    ShowPosition();
    // The status bar holds one line: the item's last.
    PathText shown;
    ShowableText(item, &shown);
    const char* lastLine = FindLastChar(shown.s, '\n');
    char status[kPathSize * 2];
    snprintf(status, sizeof status, LoadMessage(IDS_STATUS_WORKING), name_, items_, lastLine ? lastLine + 1 : shown.s);
    char counted[sizeof status + 64];
    view_.ShowWork(WithErrorCount(status, errors_, counted, sizeof counted));
  }
  bool Stopping() override {
    if (stopped_) return true;
    const ULONGLONG now = GetTickCount64();
    // Every 20 ms, and every 64th time for work faster than the clock.
    if (++calls_ % 64 != 0 && lookedAt_ != 0 && now - lookedAt_ < 20) return false;
    lookedAt_ = now;
    DrainMessages();
    return LookAtEscape();
  }

 private:
  bool LookAtEscape() {
    const bool down = (KeyState(VK_ESCAPE) & 0x8000) != 0;
    const bool pressed = down && !escapeDown_;
    escapeDown_ = down;
    if (!pressed) return false;
    AwaitKeyRelease(VK_ESCAPE);
    stopped_ = AskYesNo(Owner(), LoadMessage(IDS_STOP_BACKUP), IDS_CAPTION_CONFIRM, MB_ICONQUESTION | MB_DEFBUTTON2);
    escapeDown_ = (KeyState(VK_ESCAPE) & 0x8000) != 0;
    return stopped_;
  }
  void ShowPosition() {
    if (!window_ || templates_ == 0) return;
    const uint64_t inTemplate = lines_ ? uint64_t(linesDone_) * 1000 / lines_ : 0;
    window_->SetPosition(unsigned((uint64_t(templatesDone_) * 1000 + inTemplate) / templates_));
  }

  BackupView& view_;
  std::optional<ProgressWindow> window_;
  const char* name_ = "";
  int errors_ = 0;
  unsigned templates_ = 0, templatesDone_ = 0, lines_ = 0, linesDone_ = 0, items_ = 0, calls_ = 0;
  ULONGLONG shownAt_ = 0, lookedAt_ = 0;
  bool escapeDown_ = false, stopped_ = false;
};

// A failed template in the final report: its name, then its first error
// lines, each cut to a length a message box shows whole.
void AppendReasons(TextBuffer* report, const char* name, const TextBuffer& errorText) {
  constexpr int kLines = 3;
  constexpr size_t kLineLength = 160;
  TextBufferAppend(report, name);
  TextBufferAppend(report, "\r\n");
  const char* p = errorText.text ? errorText.text : "";
  int shown = 0;
  while (*p && shown < kLines) {
    const char* end = p;
    while (*end && *end != '\r' && *end != '\n') ++end;
    if (end > p) {
      const size_t length = size_t(end - p);
      TextBufferAppend(report, "    ");
      TextBufferAppendBytes(report, p, length > kLineLength ? kLineLength : length);
      TextBufferAppend(report, length > kLineLength ? "...\r\n" : "\r\n");
      ++shown;
    }
    p = *end == '\r' && end[1] == '\n' ? end + 2 : *end ? end + 1 : end;
  }
}

// A file of the destination that could not be written is a failure of the
// run: the report and the log name it and say why.
void NoteNotWritten(TextBuffer* problems, TextBuffer* log, const char* destination, const char* file, DWORD code) {
  PathText path;
  path.Set(destination);
  path.Append(file);
  const uint32_t start = problems->length;
  FormatWithReason(problems, IDS_NOT_WRITTEN, path.s, code);
  if (log && problems->text) {
    AppendLogStamp(log);
    TextBufferAppend(log, problems->text + start);
  }
}

}  // namespace

BackupRequest::~BackupRequest() {
  for (BackupItem& item : templates_) {
    MemFree(item.name);
    MemFree(item.fileName);
  }
}

bool BackupRequest::AddTemplate(int row, const char* name, const char* fileName) {
  BackupItem item{row, CopyText(name), CopyText(fileName)};
  if (item.name && item.fileName && templates_.Push(item)) return true;
  MemFree(item.name);
  MemFree(item.fileName);
  return false;
}

BackupOutcome RunBackup(const BackupRequest& request, BackupView& shownOn) {
  BackupOutcome outcome;
  RunWatch view(shownOn);
  HWND owner = view.Owner();
  const BackupOptions& options = request.options;
  if (!request.destination[0]) {
    ShowError(owner, LoadMessage(IDS_NO_DESTINATION));
    return outcome;
  }
  const unsigned checked = unsigned(request.templates().size());
  if (checked == 0) {
    ShowError(owner, LoadMessage(IDS_NO_TEMPLATES_CHECKED));
    return outcome;
  }
  view.StartRunBar(checked);
  view.StartTemplateBar(0);
  // ZIP is made by the program itself; the other types are not.
  const bool archive = options.compression == kZipCompression;
  if (options.compression != 0 && !archive) {
    TellWithCaption(owner, kCompressionNotice, kCompressionCaption, MB_ICONERROR);
    return outcome;
  }
  if (!FoldersAreDistinct(owner, request)) return outcome;
  PathText destination, archivePath;
  if (!PrepareDestination(owner, request.destination, options.addDate, archive, &destination)) return outcome;
  // A ZIP backup is made in a fresh folder beside the archive, packed, and
  // the folder removed.
  if (archive) {
    archivePath = destination;
    destination.Append(kArchiveFolderSuffix);
    RemoveFolderTree(destination.s);
  }

  view.EnableControls(false);
  destination.EnsureSeparator();
  if (!CreateDestination(owner, destination.s)) {
    view.EnableControls(true);
    return outcome;
  }
  outcome.started = true;

  int errorCount = 0;
  // What this run put in place, relative to the destination, a line each.
  // The failed templates' names for the log, and with their reasons for the report.
  TextBuffer restoreScript, logText, failedList, reasons, problems, written;
  WrittenDigests digests;
  TextBufferInit(&restoreScript);
  TextBufferInit(&failedList);
  TextBufferInit(&problems);
  TextBuffer* log = nullptr;
  if (options.writeLog) {
    TextBufferInit(&logText);
    log = &logText;
  }
  AppendLogLine(log, IDS_LOG_BEGUN);
  AppendLogLine(log, IDS_LOG_DESTINATION, archive ? archivePath.s : destination.s);
  AppendRestoreHeader(&restoreScript);
  const int verbose = KeyState(VK_SHIFT) != 0;

  for (const BackupItem& item : request.templates()) {
    if (view.LookNow()) break;
    char status[600];
    snprintf(status, sizeof status, LoadMessage(IDS_STATUS_PROCESSING), item.name);
    ShowStatusCounted(view, status, errorCount);
    view.StartTemplate(item.name, errorCount);
    AppendLogLine(log, IDS_LOG_BACKING_UP, item.name);

    PathText templatePath;
    TemplateFilePath(item.fileName, &templatePath);
    TextBuffer errorText;
    TextBufferInit(&errorText);
    TemplateOptions templateOptions;
    templateOptions.verbose = verbose;
    templateOptions.useRegedit = options.useRegedit;
    templateOptions.portableRestore = options.portableRestore;
    templateOptions.view = &view;
    templateOptions.progress = &view;
    templateOptions.written = &written;
    templateOptions.digests = &digests;
    if (BackupTemplate(templatePath.s, destination.s, &restoreScript, &errorText, templateOptions) != 0) {
      ++errorCount;
      TextBufferAppend(&failedList, item.name);
      TextBufferAppend(&failedList, "\r\n");
      AppendReasons(&reasons, item.name, errorText);
      AppendLogLine(log, IDS_LOG_BAD);
      if (log && errorText.text) TextBufferAppend(log, errorText.text);
    } else {
      view.TemplateSucceeded(item.row);
      AppendLogLine(log, IDS_LOG_GOOD);
    }
    view.StepRunBar();
  }
  view.CloseWindow();
  if (view.stopped()) AppendLogLine(log, IDS_LOG_STOPPED);

  AppendRestoreEnd(&restoreScript);
  view.ShowStatus(LoadMessage(IDS_STATUS_WRITING_BATCH));
  AppendLogLine(log, IDS_LOG_WRITING_BATCH);
  const DWORD scriptCode = WriteRestoreScript(owner, destination.s, restoreScript, log);
  if (scriptCode != ERROR_SUCCESS) {
    ++errorCount;
    NoteNotWritten(&problems, log, destination.s, "Restore.bat", scriptCode);
  } else {
    TextBufferAppend(&written, "Restore.bat\n");
  }
  AppendLogLine(log, IDS_LOG_BATCH_WRITTEN);
  if (log) {
    const DWORD logCode = WriteBackupLog(owner, destination.s, log, errorCount, failedList.text ? failedList.text : "");
    if (logCode != ERROR_SUCCESS) {
      ++errorCount;
      NoteNotWritten(&problems, nullptr, destination.s, "log.txt", logCode);
    } else {
      TextBufferAppend(&written, "log.txt\n");
    }
  }
  const DWORD manifestCode = written.failed ? DWORD(ERROR_NOT_ENOUGH_MEMORY)
                                            : WriteManifest(destination.s, written.text ? written.text : "", &digests);
  if (manifestCode != ERROR_SUCCESS) {
    ++errorCount;
    NoteNotWritten(&problems, nullptr, destination.s, kManifestName, manifestCode);
  }
  if (archive) {
    WidePath folder, zip;
    DWORD zipCode = ERROR_FILENAME_EXCED_RANGE;
    if (FromCodePage(destination.s, &folder) && FromCodePage(archivePath.s, &zip))
      zipCode = WriteZipArchive(folder.s, zip.s);
    RemoveFolderTree(destination.s);
    if (zipCode != ERROR_SUCCESS) {
      ++errorCount;
      NoteNotWritten(&problems, nullptr, archivePath.s, "", zipCode);
    }
  }
  ShowStatusCounted(view, LoadMessage(IDS_STATUS_FINISH), errorCount);
  AwaitKeyRelease(VK_ESCAPE);

  if (errorCount == 0) {
    ShowNotice(owner, LoadMessage(IDS_NO_ERROR_CHECK));
  } else {
    TextBuffer report;
    TextBufferInit(&report);
    TextBufferAppend(&report, LoadMessage(IDS_ERRORS_OCCURRED));
    if (!verbose) TextBufferAppend(&report, LoadMessage(IDS_PRESS_SHIFT));
    TextBufferAppend(&report, "\n");
    if (reasons.text) TextBufferAppend(&report, reasons.text);
    if (problems.text) TextBufferAppend(&report, problems.text);
    if (log) {
      PathText logPath;
      logPath.Set(archive ? archivePath.s : destination.s);
      if (!archive) logPath.Append("log.txt");
      char seeLog[kPathSize * 2];
      snprintf(seeLog, sizeof seeLog, LoadMessage(IDS_REPORT_SEE_LOG), logPath.s);
      TextBufferAppend(&report, "\n");
      TextBufferAppend(&report, seeLog);
    }
    Tell(owner, report.text ? report.text : LoadMessage(IDS_ERRORS_OCCURRED), IDS_CAPTION_NOTIFY, MB_ICONERROR);
  }
  outcome.failures = errorCount;
  view.EnableControls(true);
  return outcome;
}

#include "backup/backup_run.h"

#include <cstdio>
#include <cstring>

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
void ShowStatusCounted(BackupView& view, const char* text, int errorCount) {
  if (errorCount <= 0) return view.ShowStatus(text);
  char counted[600];
  snprintf(counted, sizeof counted, LoadMessage(IDS_STATUS_ERRORS), text, errorCount);
  view.ShowStatus(counted);
}

// Reads and checks the destination; false when the run must not start.
bool PrepareDestination(HWND owner, const char* typed, bool addDate, PathText* destination) {
  destination->Set(typed);
  if (addDate) {
    SYSTEMTIME now;
    LocalNow(&now);
    char date[16];
    snprintf(date, sizeof date, "%04d%02d%02d", now.wYear, now.wMonth, now.wDay);
    destination->Append(date);
  }
  // The destination with its separator and the files the run writes there
  // must stay within the path limit, or nothing could be written safely.
  PathText longest = *destination;
  if (destination->overflowed || !longest.EnsureSeparator() ||
      longest.length + kLongestDestinationFile >= kPathSize) {
    TextBuffer reason;
    TextBufferInit(&reason);
    AppendSystemErrorText(&reason, ERROR_FILENAME_EXCED_RANGE);
    TextBufferAppend(&reason, typed);
    ShowError(owner, reason.text ? reason.text : typed);
    return false;
  }
  if (GetFileAttributesA(destination->s) != INVALID_FILE_ATTRIBUTES && !FolderExists(destination->s)) {
    ShowError(owner, LoadMessage(IDS_DESTINATION_IS_FILE));
    return false;
  }
  TextBuffer question;
  TextBufferInit(&question);
  TextBufferAppend(&question, LoadMessage(IDS_START_BACKUP));
  TextBufferAppend(&question, destination->s);
  TextBufferAppend(&question, "\n");
  TextBufferAppend(&question,
                   LoadMessage(FolderExists(destination->s) ? IDS_DIRECTORY_EXISTS : IDS_DIRECTORY_WILL_BE_CREATED));
  return question.text && AskYesNo(owner, question.text, IDS_CAPTION_LAST_CONFIRM, MB_ICONQUESTION);
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

bool UserStopsRun(HWND owner) {
  if (!(KeyState(VK_ESCAPE) & 0x8000)) return false;
  return AskYesNo(owner, LoadMessage(IDS_STOP_BACKUP), IDS_CAPTION_CONFIRM, MB_ICONQUESTION | MB_DEFBUTTON2);
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

BackupOutcome RunBackup(const BackupRequest& request, BackupView& view) {
  BackupOutcome outcome;
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
  if (options.compression != 0) {
    TellWithCaption(owner, kCompressionNotice, kCompressionCaption, MB_ICONERROR);
    return outcome;
  }
  PathText destination;
  if (!PrepareDestination(owner, request.destination, options.addDate, &destination)) return outcome;

  view.EnableControls(false);
  destination.EnsureSeparator();
  if (!CreateDestination(owner, destination.s)) {
    view.EnableControls(true);
    return outcome;
  }
  outcome.started = true;

  int errorCount = 0;
  // What this run put in place, relative to the destination, a line each.
  TextBuffer restoreScript, logText, failedList, problems, written;
  TextBufferInit(&restoreScript);
  TextBufferInit(&failedList);
  TextBufferInit(&problems);
  TextBuffer* log = nullptr;
  if (options.writeLog) {
    TextBufferInit(&logText);
    log = &logText;
  }
  AppendLogLine(log, IDS_LOG_BEGUN);
  AppendLogLine(log, IDS_LOG_DESTINATION, destination.s);
  AppendRestoreHeader(&restoreScript);
  const int verbose = KeyState(VK_SHIFT) != 0;

  for (const BackupItem& item : request.templates()) {
    if (UserStopsRun(owner)) {
      AppendLogLine(log, IDS_LOG_STOPPED);
      break;
    }
    char status[600];
    snprintf(status, sizeof status, LoadMessage(IDS_STATUS_PROCESSING), item.name);
    ShowStatusCounted(view, status, errorCount);
    AppendLogLine(log, IDS_LOG_BACKING_UP, item.name);

    PathText templatePath;
    TemplateFilePath(item.fileName, &templatePath);
    TextBuffer errorText;
    TextBufferInit(&errorText);
    if (BackupTemplate(templatePath.s, destination.s, &restoreScript, &errorText, verbose, options.useRegedit,
                       &view, &written) != 0) {
      ++errorCount;
      TextBufferAppend(&failedList, item.name);
      TextBufferAppend(&failedList, "\r\n");
      AppendLogLine(log, IDS_LOG_BAD);
      if (log && errorText.text) TextBufferAppend(log, errorText.text);
    } else {
      view.TemplateSucceeded(item.row);
      AppendLogLine(log, IDS_LOG_GOOD);
    }
    view.StepRunBar();
  }

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
  const DWORD manifestCode =
      written.failed ? DWORD(ERROR_NOT_ENOUGH_MEMORY) : WriteManifest(destination.s, written.text ? written.text : "");
  if (manifestCode != ERROR_SUCCESS) {
    ++errorCount;
    NoteNotWritten(&problems, nullptr, destination.s, kManifestName, manifestCode);
  }
  ShowStatusCounted(view, LoadMessage(IDS_STATUS_FINISH), errorCount);

  if (errorCount == 0) {
    ShowNotice(owner, LoadMessage(IDS_NO_ERROR_CHECK));
  } else {
    TextBuffer report;
    TextBufferInit(&report);
    TextBufferAppend(&report, LoadMessage(IDS_ERRORS_OCCURRED));
    if (!verbose) TextBufferAppend(&report, LoadMessage(IDS_PRESS_SHIFT));
    TextBufferAppend(&report, "\n");
    if (failedList.text) TextBufferAppend(&report, failedList.text);
    if (problems.text) TextBufferAppend(&report, problems.text);
    Tell(owner, report.text ? report.text : LoadMessage(IDS_ERRORS_OCCURRED), IDS_CAPTION_NOTIFY, MB_ICONERROR);
  }
  outcome.failures = errorCount;
  view.EnableControls(true);
  return outcome;
}

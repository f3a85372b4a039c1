#include "backup/backup_run.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "backup/backup_log.h"
#include "backup/restore_script.h"
#include "backup/template_interpreter.h"
#include "core/errors.h"
#include "core/interaction.h"
#include "core/messages.h"
#include "core/program_folder.h"
#include "core/text.h"
#include "resource.h"
#include "ui/main_window_state.h"
#include "ui/template_list.h"

namespace {

constexpr char kCompressionNotice[] =
    "Compress have not supported yet!\nPlease compress yourself after backup.\nsorry.";
constexpr char kCompressionCaption[] = "NON IMPLEMENTED FUNCTION";
// Room for the longest file written into the destination.
constexpr size_t kLongestDestinationFile = sizeof "Restore.bat" - 1;

int Notify(HWND owner, const char* text, int captionId, UINT type) {
  return ShowMessage(owner, text, LoadMessage(captionId), type);
}

void SetStatus(const char* text) {
  SendMessageA(MainState().statusBar, SB_SETTEXTA, WPARAM(0 | SBT_NOBORDERS), LPARAM(text));
}

// Status text, with the error count added once templates have failed.
void SetStatusCounted(const char* text, int errorCount) {
  if (errorCount <= 0) return SetStatus(text);
  char counted[600];
  snprintf(counted, sizeof counted, LoadMessage(IDS_STATUS_ERRORS), text, errorCount);
  SetStatus(counted);
}

void EnableControls(bool enable) {
  const MainWindowState& s = MainState();
  if (!enable) EnableWindow(s.window, FALSE);
  EnableWindow(s.templateList, enable);
  EnableWindow(s.toolbar, enable);
  EnableWindow(s.compressionCombo, enable && IsToolbarButtonChecked(IDM_COMPRESS));
  EnableWindow(s.destinationEdit, enable);
  EnableWindow(s.browseButton, enable);
  if (enable) {
    EnableWindow(s.window, TRUE);
    SetForegroundWindow(s.window);
  } else {
    RedrawWindow(s.window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
}

bool IsFolder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int CheckedRowCount() {
  int n = 0;
  for (int row = 0; row < TemplateRowCount(); ++row) n += IsTemplateRowChecked(row);
  return n;
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
  if (destination->overflowed || !longest.EnsureSeparator() || longest.length + kLongestDestinationFile >= kPathSize) {
    TextBuffer reason;
    TextBufferInit(&reason);
    AppendSystemErrorText(&reason, ERROR_FILENAME_EXCED_RANGE);
    TextBufferAppend(&reason, typed);
    Notify(owner, reason.text ? reason.text : typed, IDS_CAPTION_ERROR, MB_ICONERROR);
    return false;
  }
  if (GetFileAttributesA(destination->s) != INVALID_FILE_ATTRIBUTES && !IsFolder(destination->s)) {
    Notify(owner, LoadMessage(IDS_DESTINATION_IS_FILE), IDS_CAPTION_ERROR, MB_ICONERROR);
    return false;
  }
  std::string question = LoadMessage(IDS_START_BACKUP);
  question += destination->s;
  question += "\n";
  question += LoadMessage(IsFolder(destination->s) ? IDS_DIRECTORY_EXISTS : IDS_DIRECTORY_WILL_BE_CREATED);
  return Notify(owner, question.c_str(), IDS_CAPTION_LAST_CONFIRM, MB_ICONQUESTION | MB_YESNO) == IDYES;
}

bool UserStopsRun(HWND owner) {
  if (!(KeyState(VK_ESCAPE) & 0x8000)) return false;
  return Notify(owner, LoadMessage(IDS_STOP_BACKUP), IDS_CAPTION_CONFIRM,
                MB_ICONQUESTION | MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

}  // namespace

void RunBackup(HWND mainWindow) {
  const MainWindowState& state = MainState();
  const bool addDate = IsToolbarButtonChecked(IDM_ADD_DATE);
  const bool writeLog = IsToolbarButtonChecked(IDM_LOG);
  const bool useRegedit = IsToolbarButtonChecked(IDM_USE_REGEDIT);
  const int compression =
      IsToolbarButtonChecked(IDM_COMPRESS) ? int(SendMessageA(state.compressionCombo, CB_GETCURSEL, 0, 0)) + 1 : 0;

  char typed[kPathSize] = {};  // at most 259 bytes as typed
  GetWindowTextA(state.destinationEdit, typed, sizeof typed);
  if (!typed[0]) {
    Notify(mainWindow, LoadMessage(IDS_NO_DESTINATION), IDS_CAPTION_ERROR, MB_ICONERROR);
    return;
  }
  const int checked = CheckedRowCount();
  if (checked == 0) {
    Notify(mainWindow, LoadMessage(IDS_NO_TEMPLATES_CHECKED), IDS_CAPTION_ERROR, MB_ICONERROR);
    return;
  }
  SendMessageA(state.overallProgress, PBM_SETRANGE, 0, MAKELPARAM(0, checked & 0xFFFF));
  SendMessageA(state.overallProgress, PBM_SETSTEP, 1, 0);
  SendMessageA(state.overallProgress, PBM_SETPOS, 0, 0);
  SendMessageA(state.templateProgress, PBM_SETPOS, 0, 0);
  if (compression != 0) {
    ShowMessage(mainWindow, kCompressionNotice, kCompressionCaption, MB_ICONERROR);
    return;
  }
  PathText destination;
  if (!PrepareDestination(mainWindow, typed, addDate, &destination)) return;

  EnableControls(false);
  destination.EnsureSeparator();
  CreateDirectoryPath(destination.s);

  int errorCount = 0;
  TextBuffer restoreScript, logText, failedList;
  TextBufferInit(&restoreScript);
  TextBuffer* log = nullptr;
  if (writeLog) {
    TextBufferInit(&logText);
    log = &logText;
  }
  AppendLogLine(log, IDS_LOG_BEGUN);
  AppendLogLine(log, IDS_LOG_DESTINATION, destination.s);
  AppendRestoreHeader(&restoreScript);
  const int verbose = KeyState(VK_SHIFT) != 0;
  TextBufferInit(&failedList);

  for (int row = 0; row < TemplateRowCount(); ++row) {
    if (UserStopsRun(mainWindow)) {
      AppendLogLine(log, IDS_LOG_STOPPED);
      break;
    }
    if (!IsTemplateRowChecked(row)) continue;
    const std::string name = TemplateRowText(row, 0, 256);
    char status[600];
    snprintf(status, sizeof status, LoadMessage(IDS_STATUS_PROCESSING), name.c_str());
    SetStatusCounted(status, errorCount);
    AppendLogLine(log, IDS_LOG_BACKING_UP, name.c_str());

    std::string templatePath = ProgramFolder();
    templatePath += "Template\\" + TemplateRowText(row, 3, 256);
    TextBuffer errorText;
    TextBufferInit(&errorText);
    if (BackupTemplate(templatePath.c_str(), destination.s, &restoreScript, &errorText, verbose, useRegedit) != 0) {
      ++errorCount;
      TextBufferAppend(&failedList, name.c_str());
      TextBufferAppend(&failedList, "\r\n");
      AppendLogLine(log, IDS_LOG_BAD);
      if (log && errorText.text) TextBufferAppend(log, errorText.text);
    } else {
      SetTemplateRowChecked(row, false);
      AppendLogLine(log, IDS_LOG_GOOD);
    }
    SendMessageA(state.overallProgress, PBM_STEPIT, 0, 0);
  }

  AppendRestoreEnd(&restoreScript);
  SetStatus(LoadMessage(IDS_STATUS_WRITING_BATCH));
  AppendLogLine(log, IDS_LOG_WRITING_BATCH);
  WriteRestoreScript(mainWindow, destination.s, restoreScript, log);
  AppendLogLine(log, IDS_LOG_BATCH_WRITTEN);
  SetStatusCounted(LoadMessage(IDS_STATUS_FINISH), errorCount);
  if (log) WriteBackupLog(mainWindow, destination.s, log, errorCount, failedList.text ? failedList.text : "");

  if (errorCount == 0) {
    Notify(mainWindow, LoadMessage(IDS_NO_ERROR_CHECK), IDS_CAPTION_NOTIFY, MB_ICONINFORMATION);
  } else {
    std::string report = LoadMessage(IDS_ERRORS_OCCURRED);
    if (!verbose) report += LoadMessage(IDS_PRESS_SHIFT);
    report += "\n";
    if (failedList.text) report += failedList.text;
    Notify(mainWindow, report.c_str(), IDS_CAPTION_NOTIFY, MB_ICONERROR);
  }
  EnableControls(true);
}

#include "backup/backup_log.h"

#include <cstdio>

#include "core/files.h"
#include "core/handles.h"
#include "core/interaction.h"
#include "core/messages.h"
#include "core/notices.h"
#include "core/paths.h"

void AppendLogStamp(TextBuffer* log) {
  SYSTEMTIME now;
  LocalNow(&now);
  char stamp[64];
  snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d.%03d>", now.wYear, now.wMonth, now.wDay, now.wHour,
           now.wMinute, now.wSecond, now.wMilliseconds);
  TextBufferAppend(log, stamp);
}

void AppendLogLine(TextBuffer* log, int messageId, const char* extra) {
  if (!log) return;
  AppendLogStamp(log);
  TextBufferAppend(log, LoadMessage(messageId));
  if (extra) TextBufferAppend(log, extra);
  TextBufferAppend(log, "\r\n");
}

DWORD WriteBackupLog(HWND owner, const char* destination, TextBuffer* log, int errorCount, const char* failedList) {
  if (errorCount == 0) {
    AppendLogLine(log, IDS_LOG_NO_ERRORS);
  } else {
    AppendLogLine(log, IDS_LOG_ERRORS);
    TextBufferAppend(log, failedList);
  }
  AppendLogLine(log, IDS_LOG_FINISHED);
  // The log grows over the runs into one destination; this run's lines are
  // added to a copy written beside it, so a failure keeps the earlier log.
  PathText path;
  TextBuffer whole;
  DWORD code = path.Set(destination) && path.Append("log.txt") ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
  if (code == ERROR_SUCCESS && GetFileAttributesA(path.s) != INVALID_FILE_ATTRIBUTES) {
    size_t size = 0;
    HeapBlock old(ReadWholeFile(path.s, &size));
    if (!old) code = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
    TextBufferInit(&whole);
    TextBufferAppendBytes(&whole, old.get() ? old.get() : "", size);
  } else {
    TextBufferInit(&whole);
  }
  if (code == ERROR_SUCCESS) {
    TextBufferAppendBytes(&whole, log->text ? log->text : "", log->length);
    code = whole.text && log->text ? WriteFileAside(path.s, whole.text, whole.length) : ERROR_NOT_ENOUGH_MEMORY;
  }
  if (code != ERROR_SUCCESS)
    ShowError(owner, LoadMessage(IsWriteFailure(code) ? IDS_CANT_WRITE_LOG : IDS_CANT_OPEN_LOG));
  return code;
}

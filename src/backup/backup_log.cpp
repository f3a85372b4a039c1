#include "backup/backup_log.h"

#include <cstdio>

#include "core/handles.h"
#include "core/interaction.h"
#include "core/messages.h"
#include "core/text.h"

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

void WriteBackupLog(HWND owner, const char* destination, TextBuffer* log, int errorCount, const char* failedList) {
  PathText path;
  FileHandle file;
  if (path.Set(destination) && path.Append("log.txt"))
    file.reset(CreateFileA(path.s, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    ShowMessage(owner, LoadMessage(IDS_CANT_OPEN_LOG), LoadMessage(IDS_CAPTION_ERROR), MB_ICONERROR);
    return;
  }
  SetFilePointer(file.get(), 0, nullptr, FILE_END);
  if (errorCount == 0) {
    AppendLogLine(log, IDS_LOG_NO_ERRORS);
  } else {
    AppendLogLine(log, IDS_LOG_ERRORS);
    TextBufferAppend(log, failedList);
  }
  AppendLogLine(log, IDS_LOG_FINISHED);
  DWORD written = 0;
  const BOOL ok = log->text && WriteFile(file.get(), log->text, log->length, &written, nullptr);
  if (!ok || written < log->length)
    ShowMessage(owner, LoadMessage(IDS_CANT_WRITE_LOG), LoadMessage(IDS_CAPTION_ERROR), MB_ICONERROR);
}

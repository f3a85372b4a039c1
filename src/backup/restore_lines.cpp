#include "backup/restore_lines.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

// Appends text so that the command interpreter takes it literally: "%"
// doubled everywhere, and outside quotes every character it treats
// specially escaped with "^". Steps by whole characters, so a trail byte is
// never escaped.
void AppendBatchLiteral(TextBuffer* script, const char* text, bool quoted) {
  static const char kSpecial[] = "&|<>^()\"";
  for (const char* p = text; *p;) {
    const char* next = CharNextA(p);
    if (*p == '%')
      TextBufferAppend(script, "%%");
    else if (!quoted && next == p + 1 && strchr(kSpecial, *p)) {
      TextBufferAppendChar(script, '^');
      TextBufferAppendChar(script, *p);
    } else {
      TextBufferAppendBytes(script, p, size_t(next - p));
    }
    p = next;
  }
}

}  // namespace

void AppendRestoreEcho(TextBuffer* script, const char* templateName) {
  TextBufferAppend(script, "ECHO Restoreing: ");
  AppendBatchLiteral(script, templateName, false);
  TextBufferAppend(script, "\r\n");
}

// The saved copy of entry n, relative to the destination.
static void AppendEntryName(TextBuffer* script, const char* scriptDir, unsigned n) {
  char number[16];
  snprintf(number, sizeof number, "%u", n);
  AppendBatchLiteral(script, scriptDir, true);
  TextBufferAppend(script, number);
}

void AppendFileRestoreLine(TextBuffer* script, const char* scriptDir, unsigned n, const char* targetFolder) {
  TextBufferAppend(script, "IF \"%FILE%\"==\"1\" xcopy \"");
  AppendEntryName(script, scriptDir, n);
  TextBufferAppend(script, "\\*.*\" \"");
  AppendBatchLiteral(script, targetFolder, true);
  TextBufferAppend(script, "\" /e /c /q /h /r /k /y\r\n");
}

void AppendRegistryRestoreLine(TextBuffer* script, const char* scriptDir, unsigned n) {
  TextBufferAppend(script, "IF \"%REGI%\"==\"1\" regedit /s \"");
  AppendEntryName(script, scriptDir, n);
  TextBufferAppend(script, ".reg\"\r\n");
}

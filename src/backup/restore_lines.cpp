#include "backup/restore_lines.h"

#include <cstdio>

void AppendRestoreEcho(TextBuffer* script, const char* templateName) {
  TextBufferAppend(script, "ECHO Restoreing: ");
  TextBufferAppend(script, templateName);
  TextBufferAppend(script, "\r\n");
}

void AppendFileRestoreLine(TextBuffer* script, const char* scriptDir, unsigned n, const char* targetFolder) {
  char number[16];
  snprintf(number, sizeof number, "%u", n);
  TextBufferAppend(script, "IF \"%FILE%\"==\"1\" xcopy \"");
  TextBufferAppend(script, scriptDir);
  TextBufferAppend(script, number);
  TextBufferAppend(script, "\\*.*\" \"");
  TextBufferAppend(script, targetFolder);
  TextBufferAppend(script, "\" /e /c /q /h /r /k /y\r\n");
}

void AppendRegistryRestoreLine(TextBuffer* script, const char* scriptDir, unsigned n) {
  char number[16];
  snprintf(number, sizeof number, "%u", n);
  TextBufferAppend(script, "IF \"%REGI%\"==\"1\" regedit /s \"");
  TextBufferAppend(script, scriptDir);
  TextBufferAppend(script, number);
  TextBufferAppend(script, ".reg\"\r\n");
}

#include "backup/restore_lines.h"

#include <cstdio>
#include <cstring>

namespace {

// An entry's name: the folder line (shorter than a path) and a number.
constexpr size_t kEntryNameRoom = 600;

bool IsHigh(char c) { return static_cast<unsigned char>(c) >= 0x80; }
bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// A name of plain ASCII reads the same in every code page: each character cmd
// treats specially is escaped with "^", and "%" doubled.
void AppendAsciiName(TextBuffer* script, const char* name) {
  static const char kSpecial[] = "&|<>^()\"";
  for (const char* p = name; *p; ++p) {
    if (*p == '%')
      TextBufferAppend(script, "%%");
    else if (IsControl(*p))
      TextBufferAppendChar(script, ' ');
    else if (strchr(kSpecial, *p)) {
      TextBufferAppendChar(script, '^');
      TextBufferAppendChar(script, *p);
    } else {
      TextBufferAppendChar(script, *p);
    }
  }
}

// Any other name goes inside quotes, left open to the end of the line. A
// quote in the name is doubled (it closes and reopens), and a space keeps a
// byte that may lead a double-byte character from swallowing that quote or a
// "%". The name reads as written where the code page is the one it was
// written in, and runs nothing in any other.
void AppendQuotedName(TextBuffer* script, const char* name) {
  TextBufferAppendChar(script, '"');
  bool afterHigh = false;
  for (const char* p = name; *p; ++p) {
    if ((*p == '%' || *p == '"') && afterHigh) TextBufferAppendChar(script, ' ');
    if (*p == '%')
      TextBufferAppend(script, "%%");
    else if (*p == '"')
      TextBufferAppend(script, "\"\"");
    else
      TextBufferAppendChar(script, IsControl(*p) ? ' ' : *p);
    afterHigh = IsHigh(*p);
  }
}

// The rest of a path inside quotes, and the closing quote; FitsInQuotes has
// passed it, so only "%" needs doubling.
void AppendQuotedRest(TextBuffer* script, const char* path) {
  for (const char* p = path; *p; ++p) {
    if (*p == '%')
      TextBufferAppend(script, "%%");
    else
      TextBufferAppendChar(script, *p);
  }
  TextBufferAppendChar(script, '"');
}

void AppendQuotedPath(TextBuffer* script, const char* path) {
  TextBufferAppendChar(script, '"');
  AppendQuotedRest(script, path);
}

// The saved copy of entry n, relative to the destination, with a suffix.
void AppendEntryName(TextBuffer* script, const char* scriptDir, unsigned n, const char* suffix) {
  char name[kEntryNameRoom];
  snprintf(name, sizeof name, "%s%u%s", scriptDir, n, suffix);
  AppendQuotedPath(script, name);
}

}  // namespace

bool FitsInQuotes(const char* path) {
  for (const char* p = path; *p; ++p) {
    if (*p == '"' || IsControl(*p)) return false;
    if (*p == '%' && p > path && IsHigh(p[-1])) return false;
  }
  return true;
}

void AppendRestoreEcho(TextBuffer* script, const char* templateName) {
  TextBufferAppend(script, "ECHO Restoreing: ");
  bool ascii = true;
  for (const char* p = templateName; *p; ++p) ascii = ascii && !IsHigh(*p);
  if (ascii)
    AppendAsciiName(script, templateName);
  else
    AppendQuotedName(script, templateName);
  TextBufferAppend(script, "\r\n");
}

bool AppendFileRestoreLines(TextBuffer* script, const char* scriptDir, unsigned n, const char* targetFolder,
                            const char* variable) {
  if (!FitsInQuotes(scriptDir) || !FitsInQuotes(targetFolder)) return false;
  // An unset variable would make the path start at the root of the drive.
  char condition[64] = "IF \"%FILE%\"==\"1\" ";
  if (variable) {
    snprintf(condition, sizeof condition, "IF \"%%FILE%%\"==\"1\" IF DEFINED %s ", variable);
    TextBufferAppend(script, "IF \"%FILE%\"==\"1\" IF NOT DEFINED ");
    TextBufferAppend(script, variable);
    TextBufferAppend(script, " SET ARKFAILED=1\r\n");
  }
  TextBufferAppend(script, condition);
  TextBufferAppend(script, "xcopy ");
  AppendEntryName(script, scriptDir, n, "\\*.*");
  TextBufferAppendChar(script, ' ');
  if (variable) {
    TextBufferAppend(script, "\"%");
    TextBufferAppend(script, variable);
    TextBufferAppendChar(script, '%');
    AppendQuotedRest(script, targetFolder);
  } else {
    AppendQuotedPath(script, targetFolder);
  }
  TextBufferAppend(script, " /e /c /q /h /r /k /y\r\n");
  TextBufferAppend(script, condition);
  TextBufferAppend(script, "IF ERRORLEVEL 2 SET ARKFAILED=1\r\n");
  TextBufferAppend(script, "IF \"%FILE%\"==\"1\" IF NOT EXIST ");
  AppendEntryName(script, scriptDir, n, "\\");
  TextBufferAppend(script, " SET ARKFAILED=1\r\n");
  return true;
}

bool AppendRegistryRestoreLines(TextBuffer* script, const char* scriptDir, unsigned n) {
  if (!FitsInQuotes(scriptDir)) return false;
  TextBufferAppend(script, "IF \"%REGI%\"==\"1\" regedit /s ");
  AppendEntryName(script, scriptDir, n, ".reg");
  TextBufferAppend(script,
                   "\r\n"
                   "IF \"%REGI%\"==\"1\" IF ERRORLEVEL 1 SET ARKFAILED=1\r\n"
                   "IF \"%REGI%\"==\"1\" IF NOT EXIST ");
  AppendEntryName(script, scriptDir, n, ".reg");
  TextBufferAppend(script, " SET ARKFAILED=1\r\n");
  return true;
}

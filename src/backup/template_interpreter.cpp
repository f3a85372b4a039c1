#include "backup/template_interpreter.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "backup/restore_lines.h"
#include "backup/template_format.h"
#include "core/errors.h"
#include "core/handles.h"
#include "core/interaction.h"
#include "core/messages.h"
#include "core/text.h"
#include "operations/expansion.h"
#include "operations/file_copy.h"
#include "operations/registry_export.h"
#include "operations/relation_export.h"
#include "ui/main_window_state.h"

namespace {

// Formats a catalogue text with one argument into a new block (MemFree it).
char* FormatMessageText(int id, const char* argument) {
  const char* format = LoadMessage(id);
  const size_t size = strlen(format) + strlen(argument) + 16;
  char* text = static_cast<char*>(MemAlloc(size));
  if (text) snprintf(text, size, format, argument);
  return text;
}

void ShowTemplateProblem(int verbose, const char* text) {
  if (verbose) ShowMessage(nullptr, text, LoadMessage(IDS_CAPTION_ERROR), MB_ICONWARNING);
}

// Reads the whole template into a zero-terminated block, or reports why not.
char* ReadTemplate(const char* templatePath, int verbose, TextBuffer* errorText) {
  FileHandle file(CreateFileA(templatePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    HeapBlock text(FormatMessageText(IDS_CANT_OPEN_TEMPLATE_SKIP, templatePath));
    if (text) ShowTemplateProblem(verbose, text.get());
    return nullptr;
  }
  const DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE) return nullptr;
  HeapBlock content(MemAlloc(size_t(size) + 1));
  if (!content) return nullptr;
  DWORD got = 0;
  if (!ReadFile(file.get(), content.get(), size, &got, nullptr) || got < size) {
    HeapBlock text(FormatMessageText(IDS_CANT_READ_TEMPLATE_SKIP, templatePath));
    if (text) ShowTemplateProblem(verbose, text.get());
    return nullptr;
  }
  content.get()[size] = '\0';
  // A NUL byte would silently hide every entry after it: no text template
  // holds one, so the file is refused and the log says why.
  if (memchr(content.get(), 0, size)) {
    HeapBlock text(FormatMessageText(IDS_CANT_READ_TEMPLATE_SKIP, templatePath));
    if (text) {
      TextBufferAppend(errorText, text.get());
      TextBufferAppend(errorText, "\r\n");
      ShowTemplateProblem(verbose, text.get());
    }
    return nullptr;
  }
  return static_cast<char*>(content.release());
}

void AppendErrorLine(TextBuffer* errorText, int messageId, const char* argument, DWORD code, bool withCode,
                     int verbose) {
  const char* message = LoadMessage(messageId);
  TextBufferAppend(errorText, message);
  TextBufferAppend(errorText, ": ");
  TextBufferAppend(errorText, argument);
  TextBufferAppend(errorText, ": ");
  if (withCode) {
    char number[24];
    snprintf(number, sizeof number, "(%lu)", static_cast<unsigned long>(code));
    TextBufferAppend(errorText, number);
  }
  AppendSystemErrorText(errorText, code);
  TextBufferAppend(errorText, "\r\n");
  if (verbose) ShowMessage(nullptr, argument, message, MB_ICONERROR);
}

// The folder an F or S entry's files go back to: the argument up to its last
// "\\", expanded, with "\\" ensured.
bool RestoreTargetFolder(const char* argument, PathText* target) {
  const size_t folderLength = size_t(FindFileNamePart(argument) - argument);
  if (!target->AppendBytes(argument, folderLength) || !ExpandVariables(target->s)) return false;
  target->Refresh();
  return target->EnsureSeparator();
}

void SetupTemplateBar(unsigned lineCount) {
  const HWND bar = MainState().templateProgress;
  if (!bar) return;
  SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, lineCount & 0xFFFF));
  SendMessageA(bar, PBM_SETSTEP, 1, 0);
  SendMessageA(bar, PBM_SETPOS, 0, 0);
}

void StepTemplateBar() {
  if (MainState().templateProgress) SendMessageA(MainState().templateProgress, PBM_STEPIT, 0, 0);
}

struct TemplateRun {
  const char* scriptDir;
  PathText templateFolder;
  TextBuffer* restoreScript;
  TextBuffer* errorText;
  int verbose;
  int useRegedit;
  bool failed = false;

  void Entry(const TemplateEntry& entry, unsigned n);
  void FailEntry(int messageId, const char* argument, bool withCode) {
    const DWORD code = GetLastError();
    AppendErrorLine(errorText, messageId, argument, code, withCode, verbose);
    failed = true;
  }
};

void TemplateRun::Entry(const TemplateEntry& entry, unsigned n) {
  PathText entryFolder;
  const bool folderFits = !templateFolder.overflowed && entryFolder.Set(templateFolder.s) &&
                          entryFolder.EnsureSeparator() && entryFolder.AppendNumber(n) && entryFolder.Append("\\");
  if (!folderFits) SetLastError(ERROR_FILENAME_EXCED_RANGE);
  switch (entry.letter) {
    case 'F':
    case 'S': {
      PathText target;
      if (!folderFits || CopyFiles(entry.argument, entryFolder.s, entry.letter == 'S') != 0 ||
          !RestoreTargetFolder(entry.argument, &target))
        return FailEntry(IDS_FILE_BACKUP_FAILED, entry.argument, false);
      AppendFileRestoreLine(restoreScript, scriptDir, n, target.s);
      return;
    }
    case 'R':
      if (!folderFits || ExportRegistryKey(entry.argument, entryFolder.s, useRegedit) != 0)
        return FailEntry(IDS_REGISTRY_BACKUP_FAILED, entry.argument, true);
      AppendRegistryRestoreLine(restoreScript, scriptDir, n);
      return;
    case 'X':
      if (!folderFits || ExportRelation(entry.argument, entryFolder.s, useRegedit) != 0)
        return FailEntry(IDS_RELATION_SAVE_FAILED, entry.argument, false);
      AppendRegistryRestoreLine(restoreScript, scriptDir, n);
      return;
    case 'I':
      ShowMessage(nullptr, kIniNotSupported, LoadMessage(IDS_CAPTION_ERROR), MB_ICONERROR);
      return;
    default: {
      char text[256];
      snprintf(text, sizeof text, LoadMessage(IDS_UNKNOWN_COMMAND), entry.letter);
      TextBufferAppend(errorText, text);
      TextBufferAppend(errorText, "\r\n");
      failed = true;
      ShowTemplateProblem(verbose, text);
      return;
    }
  }
}

}  // namespace

int BackupTemplate(const char* templatePath, const char* destination, TextBuffer* restoreScript,
                   TextBuffer* errorText, int verbose, int useRegedit) {
  HeapBlock content(ReadTemplate(templatePath, verbose, errorText));
  if (!content) return 1;
  char* cursor = content.get();
  const char* name = TakeLine(&cursor);
  TakeLine(&cursor);  // the description is for the list only
  const char* directory = TakeLine(&cursor);
  if (!name) name = "";
  if (!directory) directory = "";

  if (!IsSafeTemplateDirectory(directory)) {
    HeapBlock text(FormatMessageText(IDS_UNSAFE_DIRECTORY, directory));
    if (text) {
      TextBufferAppend(errorText, text.get());
      TextBufferAppend(errorText, "\r\n");
      ShowTemplateProblem(verbose, text.get());
    }
    return 1;
  }
  AppendRestoreEcho(restoreScript, name);

  TemplateRun run{nullptr, {}, restoreScript, errorText, verbose, useRegedit};
  PathText scriptDir;
  scriptDir.Set(directory);
  scriptDir.EnsureSeparator();
  run.scriptDir = scriptDir.s;
  // An over-long folder fails each entry with ERROR_FILENAME_EXCED_RANGE.
  if (run.templateFolder.Set(destination) && run.templateFolder.Append(directory) &&
      run.templateFolder.Append("\\"))
    CreateDirectoryPath(run.templateFolder.s);

  unsigned lineCount = 0;
  for (const char* counter = cursor; NextLine(&counter);) ++lineCount;
  SetupTemplateBar(lineCount);

  unsigned n = 0;
  for (char* line; (line = TakeLine(&cursor)) != nullptr; ++n) {
    TemplateEntry entry;
    if (ParseEntryLine(line, &entry)) run.Entry(entry, n);
    StepTemplateBar();
  }
  TextBufferAppend(restoreScript, "\r\n");
  return run.failed ? 1 : 0;
}

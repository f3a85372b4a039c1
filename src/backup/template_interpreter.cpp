#include "backup/template_interpreter.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "backup/restore_lines.h"
#include "backup/template_format.h"
#include "core/errors.h"
#include "core/files.h"
#include "core/fixed_texts.h"
#include "core/handles.h"
#include "core/interaction.h"
#include "core/messages.h"
#include "core/notices.h"
#include "core/paths.h"
#include "core/wide_text.h"
#include "operations/expansion.h"
#include "operations/file_copy.h"
#include "operations/portable_paths.h"
#include "operations/registry_export.h"
#include "operations/relation_export.h"

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
  if (verbose) Tell(nullptr, text, IDS_CAPTION_ERROR, MB_ICONWARNING);
}

// A problem with the template as a whole: the message's first line, with
// the system's text for the code when there is one, as one line of error
// text; the whole message in a box when asked for.
void TemplateProblem(TextBuffer* errorText, int verbose, int messageId, const char* argument,
                     DWORD code = ERROR_SUCCESS) {
  HeapBlock text(FormatMessageText(messageId, argument));
  if (!text) return;
  const char* message = static_cast<const char*>(text.get());
  const char* lineEnd = strchr(message, '\n');
  TextBufferAppendBytes(errorText, message, lineEnd ? size_t(lineEnd - message) : strlen(message));
  if (code != ERROR_SUCCESS) {
    TextBuffer system;
    if (AppendSystemErrorText(&system, code)) {
      uint32_t length = system.length;
      while (length > 0 && (system.text[length - 1] == '\r' || system.text[length - 1] == '\n')) --length;
      TextBufferAppend(errorText, " ");
      TextBufferAppendBytes(errorText, system.text, length);
    }
  }
  TextBufferAppend(errorText, "\r\n");
  ShowTemplateProblem(verbose, message);
}

// Reads the whole template into a zero-terminated block, or reports why not.
char* ReadTemplate(const char* templatePath, int verbose, TextBuffer* errorText) {
  bool opened = false;
  HeapBlock content(ReadTemplateText(templatePath, &opened));
  if (content) return static_cast<char*>(content.release());
  // A NUL byte is the template's fault, not the system's: no system text.
  const DWORD code = GetLastError();
  TemplateProblem(errorText, verbose, opened ? IDS_CANT_READ_TEMPLATE_SKIP : IDS_CANT_OPEN_TEMPLATE_SKIP, templatePath,
                  code == ERROR_INVALID_DATA ? ERROR_SUCCESS : code);
  return nullptr;
}

// Names in error lines may hold what a registry key name can: line breaks
// and other control characters are shown escaped, so a line stays a line.
void AppendVisible(TextBuffer* out, const char* text) {
  for (const char* p = text; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != 0x7F) {
      TextBufferAppendChar(out, *p);
    } else {
      char escaped[8];
      snprintf(escaped, sizeof escaped, c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\x%02x", c);
      TextBufferAppend(out, escaped);
    }
  }
}

// The folder an F or S entry's files go back to: the argument expanded, up
// to its last "\\", with "\\" ensured. Expanded first, since a registry
// reference may bring the folder, backslashes and all. It must be spelled in
// the code page cmd reads Restore.bat in, or the entry fails rather than name
// another.
// For a portable restore, a folder that follows the user or the machine is
// named by its variable, and target holds the rest of the path.
bool RestoreTargetFolder(const char* argument, bool portable, PathText* target, const char** variable) {
  WidePath expanded;
  if (!ExpandVariablesWide(argument, &expanded)) return false;
  size_t folderLength = 0;
  for (size_t i = 0; i < expanded.length; ++i)
    if (expanded.s[i] == L'\\') folderLength = i + 1;
  expanded.Truncate(folderLength);
  size_t covered = 0;
  *variable = portable ? PortableFolderOf(expanded.s, &covered) : nullptr;
  if (!InCodePage(expanded.s + covered, target, CP_OEMCP))
    return SetLastError(target->overflowed ? ERROR_FILENAME_EXCED_RANGE : ERROR_NO_UNICODE_TRANSLATION), false;
  if (*variable ? target->length == 0 && !target->Append("\\") : !target->EnsureSeparator()) return false;
  if (!FitsInQuotes(target->s)) return SetLastError(ERROR_INVALID_NAME), false;
  return true;
}

// Template text, in the system's code page, appended as cmd reads it from
// Restore.bat: in the console's code page. False when a character has no
// exact form there.
bool InBatchCodePage(const char* text, TextBuffer* out) {
  const size_t size = strlen(text);
  // Where the two are one (Japanese systems), the bytes stay as they are,
  // even those that do not make a character.
  if (GetACP() == GetOEMCP()) return TextBufferAppendBytes(out, text, size) != 0;
  size_t length = 0;
  HeapBlock wide(WideFromBytes(CP_ACP, text, size, &length));
  return wide && AppendInCodePage(reinterpret_cast<const wchar_t*>(wide.get()), length, out, CP_OEMCP);
}

struct TemplateRun {
  const char* scriptDir;
  const char* batchDir;  // scriptDir as Restore.bat spells it; null where it cannot
  PathText templateFolder;
  TextBuffer* restoreScript;
  TextBuffer* errorText;
  int verbose;
  int useRegedit;
  bool portable;
  TextBuffer* written;
  WrittenDigests* digests;
  RunProgress* progress;
  bool folderWasEmpty = false;  // nothing in templateFolder is a last good copy
  bool failed = false;
  bool stopped = false;  // an entry ended failed because the run stops

  // Notes a copy put in place, with the digests taken of its files when
  // there are any.
  void Written(unsigned n, const char* suffix, Manifest* copied = nullptr, const TakenDigest* taken = nullptr) {
    if (!written) return;
    char line[kPathSize + 32];
    snprintf(line, sizeof line, "%s%u%s", scriptDir, n, suffix);
    TextBufferAppend(written, line);
    TextBufferAppend(written, "\n");
    if (!digests) return;
    if (taken && taken->taken) digests->AddFile(line, taken->value);
    if (!copied) return;
    copied->Sort();
    // Two names the folder holds as one: the manifest reads what is there.
    if (!copied->HasAlikePaths()) digests->AddFolder(line, *copied);
  }

  void Entry(const TemplateEntry& entry, unsigned n);
  void Files(const TemplateEntry& entry, unsigned n, const PathText& entryFolder);
  // One line of error text: the message, the entry, what failed inside it
  // when that is not the entry itself, and the system's text for the code.
  void FailEntry(int messageId, const char* argument, DWORD code, const char* detail = nullptr) {
    const char* message = LoadMessage(messageId);
    TextBuffer line;
    TextBufferAppend(&line, message);
    TextBufferAppend(&line, ": ");
    TextBufferAppend(&line, argument);
    TextBufferAppend(&line, ": ");
    if (detail && *detail && strcmp(detail, argument) != 0) {
      AppendVisible(&line, detail);
      TextBufferAppend(&line, ": ");
    }
    if (messageId == IDS_REGISTRY_BACKUP_FAILED) {
      char number[24];
      snprintf(number, sizeof number, "(%lu)", static_cast<unsigned long>(code));
      TextBufferAppend(&line, number);
    }
    AppendSystemErrorText(&line, code);
    TextBufferAppend(&line, "\r\n");
    TextBufferAppendBytes(errorText, line.text ? line.text : "", line.length);
    // The box says why, not only which entry.
    if (verbose && code != ERROR_CANCELLED)
      TellWithCaption(nullptr, line.text ? line.text : argument, message, MB_ICONERROR);
    failed = true;
    stopped = stopped || code == ERROR_CANCELLED;
  }
};

// An F or S entry is copied into a staging folder beside its numbered
// folder, which it replaces once the copy is complete. A file that could not
// be read fails the entry but keeps what was copied: it is restored.
void TemplateRun::Files(const TemplateEntry& entry, unsigned n, const PathText& entryFolder) {
  PathText target;
  const char* variable = nullptr;
  if (!RestoreTargetFolder(entry.argument, portable, &target, &variable))
    return FailEntry(IDS_FILE_BACKUP_FAILED, entry.argument, GetLastError());
  StagedFolder staged;
  if (!staged.Begin(entryFolder.s, folderWasEmpty))
    return FailEntry(IDS_FILE_BACKUP_FAILED, entry.argument, GetLastError());
  CopyReport report;
  Manifest copied;
  CopyFiles(entry.argument, staged.path(), entry.letter == 'S', &report, progress, digests ? &copied : nullptr);
  if (!report.complete) return FailEntry(IDS_FILE_BACKUP_FAILED, entry.argument, report.code, report.failedItem.s);
  const DWORD published = staged.Publish();
  if (published != ERROR_SUCCESS) return FailEntry(IDS_FILE_BACKUP_FAILED, entry.argument, published, entryFolder.s);
  Written(n, "\\", report.failures == 0 && report.hashedAll ? &copied : nullptr);
  AppendFileRestoreLines(restoreScript, batchDir, n, target.s, variable);
  if (report.failures) FailEntry(IDS_FILE_BACKUP_FAILED, entry.argument, report.code, report.failedItem.s);
}

void TemplateRun::Entry(const TemplateEntry& entry, unsigned n) {
  PathText entryFolder;
  const bool folderFits = !templateFolder.overflowed && entryFolder.Set(templateFolder.s) &&
                          entryFolder.EnsureSeparator() && entryFolder.AppendNumber(n);
  // Nothing is saved that Restore.bat could not name.
  const DWORD unusable = !folderFits ? ERROR_FILENAME_EXCED_RANGE : !batchDir ? ERROR_NO_UNICODE_TRANSLATION : 0;
  switch (entry.letter) {
    case 'F':
    case 'S':
      if (unusable) return FailEntry(IDS_FILE_BACKUP_FAILED, entry.argument, unusable);
      return Files(entry, n, entryFolder);
    case 'R': {
      PathText failedKey;
      if (unusable || !entryFolder.Append("\\"))
        return FailEntry(IDS_REGISTRY_BACKUP_FAILED, entry.argument, unusable ? unusable : ERROR_FILENAME_EXCED_RANGE);
      TakenDigest digest;
      if (ExportRegistryKey(entry.argument, entryFolder.s, useRegedit, &failedKey, progress, &digest) != 0)
        return FailEntry(IDS_REGISTRY_BACKUP_FAILED, entry.argument, GetLastError(), failedKey.s);
      Written(n, ".reg", nullptr, &digest);
      AppendRegistryRestoreLines(restoreScript, batchDir, n);
      return;
    }
    case 'X':
      if (unusable || !entryFolder.Append("\\"))
        return FailEntry(IDS_RELATION_SAVE_FAILED, entry.argument, unusable ? unusable : ERROR_FILENAME_EXCED_RANGE);
      if (ExportRelation(entry.argument, entryFolder.s, useRegedit, progress) != 0)
        return FailEntry(IDS_RELATION_SAVE_FAILED, entry.argument, GetLastError());
      Written(n, ".reg");
      AppendRegistryRestoreLines(restoreScript, batchDir, n);
      return;
    case 'I': ShowError(nullptr, kIniNotSupported); return;
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

int BackupTemplate(const char* templatePath, const char* destination, TextBuffer* restoreScript, TextBuffer* errorText,
                   const TemplateOptions& options) {
  const int verbose = options.verbose;
  HeapBlock content(ReadTemplate(templatePath, verbose, errorText));
  if (!content) return 1;
  char* cursor = content.get();
  const char* name = TakeLine(&cursor);
  TakeLine(&cursor);  // the description is for the list only
  const char* directory = TakeLine(&cursor);
  if (!name) name = "";
  if (!directory) directory = "";

  PathText scriptDir;
  scriptDir.Set(directory);
  scriptDir.EnsureSeparator();
  if (!IsSafeTemplateDirectory(directory) || !FitsInQuotes(scriptDir.s) || scriptDir.overflowed) {
    TemplateProblem(errorText, verbose, IDS_UNSAFE_DIRECTORY, directory);
    return 1;
  }
  // A name the console cannot show is echoed as it is: it only shows.
  TextBuffer echoed, batchDir;
  AppendRestoreEcho(restoreScript, InBatchCodePage(name, &echoed) && echoed.text ? echoed.text : name);
  // Its form in the script passes the same test as the folder line did.
  const bool dirSpelled = InBatchCodePage(scriptDir.s, &batchDir);
  const char* spelled = batchDir.text ? batchDir.text : "";

  TemplateRun run{scriptDir.s,
                  dirSpelled && FitsInQuotes(spelled) ? spelled : nullptr,
                  {},
                  restoreScript,
                  errorText,
                  verbose,
                  options.useRegedit,
                  options.portableRestore,
                  options.written,
                  options.digests,
                  options.progress};
  // An over-long folder fails each entry with ERROR_FILENAME_EXCED_RANGE.
  if (run.templateFolder.Set(destination) && run.templateFolder.Append(directory) && run.templateFolder.Append("\\")) {
    const DWORD attributes = GetFileAttributesA(run.templateFolder.s);
    if (attributes == INVALID_FILE_ATTRIBUTES)
      run.folderWasEmpty = CreateDirectoryPath(run.templateFolder.s) == 0;
    else
      run.folderWasEmpty = (attributes & FILE_ATTRIBUTE_DIRECTORY) && FolderIsEmpty(run.templateFolder.s);
  }

  unsigned lineCount = 0;
  for (const char* counter = cursor; NextLine(&counter);) ++lineCount;
  if (options.view) options.view->StartTemplateBar(lineCount);

  unsigned n = 0;
  for (char* line; (line = TakeLine(&cursor)) != nullptr; ++n) {
    TemplateEntry entry;
    if (ParseEntryLine(line, &entry)) {
      // Stopped between entries: this one is the entry that did not finish.
      if (options.progress && options.progress->Stopping() && !run.stopped)
        run.FailEntry(entry.letter == 'R'   ? IDS_REGISTRY_BACKUP_FAILED
                      : entry.letter == 'X' ? IDS_RELATION_SAVE_FAILED
                                            : IDS_FILE_BACKUP_FAILED,
                      entry.argument, ERROR_CANCELLED);
      if (run.stopped) break;
      run.Entry(entry, n);
    }
    if (options.view) options.view->StepTemplateBar();
  }
  TextBufferAppend(restoreScript, "\r\n");
  return run.failed ? 1 : 0;
}

#include "operations/relation_export.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "core/handles.h"
#include "core/messages.h"
#include "core/paths.h"
#include "core/wide_text.h"
#include "operations/progress_window.h"
#include "operations/registry_export.h"

namespace {

constexpr wchar_t kFileExtsPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
constexpr wchar_t kFileExtsKeyText[] =
    L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";

// Reads a string value into a path-sized buffer; false when it is missing,
// not a string, empty or too long.
bool ReadStringValue(HKEY key, const wchar_t* valueName, WidePath* out) {
  DWORD type = 0, size = sizeof out->s - sizeof(wchar_t);
  out->Clear();
  if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(out->s), &size) != ERROR_SUCCESS)
    return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  out->s[size / sizeof(wchar_t)] = L'\0';
  out->length = wcslen(out->s);
  return out->length > 0;
}

bool ReadDefaultValueOf(HKEY parent, const wchar_t* subKey, WidePath* out) {
  RegKey key;
  if (RegOpenKeyExW(parent, subKey, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return false;
  return ReadStringValue(key.get(), L"", out);
}

// True when the command that opens files of this identifier names program.
bool CommandNamesProgram(const wchar_t* identifier, const wchar_t* program) {
  WidePath shellPath;
  if (!*identifier || !shellPath.Set(identifier) || !shellPath.Append(L"\\shell")) return false;
  RegKey shell;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, shellPath.s, 0, KEY_READ, shell.out()) != ERROR_SUCCESS) return false;
  WidePath verb;
  if (!ReadStringValue(shell.get(), L"", &verb)) verb.Set(L"open");
  if (!verb.Append(L"\\command")) return false;
  RegKey command;
  if (RegOpenKeyExW(shell.get(), verb.s, 0, KEY_READ, command.out()) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(command.get(), L"", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  HeapBlock line(MemAlloc(size_t(size) + sizeof(wchar_t)));
  if (!line) return false;
  auto* text = reinterpret_cast<wchar_t*>(line.get());
  if (RegQueryValueExW(command.get(), L"", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS)
    return false;
  text[size / sizeof(wchar_t)] = L'\0';
  // The program's name anywhere in the command, letters in any case.
  CharLowerW(text);
  WidePath wanted;
  if (!wanted.Set(program)) return false;
  CharLowerW(wanted.s);
  return wcsstr(text, wanted.s) != nullptr;
}

// "Saving relation with program...", and the extension written.
void ShowProgress(RunProgress* progress, const char* program, const wchar_t* extension) {
  if (!progress) return;
  PathText shown;
  ShowableText(extension, &shown);
  char text[kPathSize * 2];
  snprintf(text, sizeof text, LoadMessage(IDS_RELATION_WROTE), program, shown.s);
  WidePath wide;
  if (FromCodePage(text, &wide)) progress->Done(IDS_CAPTION_EXPORTING_RELATIONS, wide.s);
}

// One pass over the sub-keys of a key: name buffer sized by the key itself.
struct SubKeyNames {
  DWORD count = 0;
  DWORD room = 0;
  HeapBlock name;
  LONG Init(HKEY key) {
    DWORD longest = 0;
    LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    room = longest + 1;
    name.reset(MemAlloc(size_t(room) * sizeof(wchar_t)));
    return name ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
  }
  const wchar_t* Read(HKEY key, DWORD index) {
    DWORD length = room;
    auto* text = reinterpret_cast<wchar_t*>(name.get());
    return RegEnumKeyExW(key, index, text, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS ? text
                                                                                                         : nullptr;
  }
};

struct RelationPass {
  RunProgress* progress;
  const char* program;
  const wchar_t* wideProgram;
  RegExport* file;

  // The blocks of a matching extension and of its program identifier. What
  // a key's export leaves behind when it fails stays unreported, as before;
  // only text the code page cannot carry makes the whole export start again.
  LONG WriteMatch(const wchar_t* extension, const wchar_t* extensionKey, const wchar_t* identifier) {
    if (!file->WriteKey(nullptr, extensionKey) && GetLastError() == ERROR_NO_UNICODE_TRANSLATION)
      return ERROR_NO_UNICODE_TRANSLATION;
    WidePath identifierKey;
    if (identifierKey.Set(L"HKEY_CLASSES_ROOT\\") && identifierKey.Append(identifier) &&
        !file->WriteKey(nullptr, identifierKey.s) && GetLastError() == ERROR_NO_UNICODE_TRANSLATION)
      return ERROR_NO_UNICODE_TRANSLATION;
    ShowProgress(progress, program, extension);
    return ERROR_SUCCESS;
  }

  // One pass over the extensions below parent: each whose program
  // identifier, read by identifierOf, names the program is written.
  template <typename IdentifierOf>
  LONG Pass(HKEY parent, const wchar_t* keyPrefix, IdentifierOf identifierOf) {
    SubKeyNames names;
    LONG status = names.Init(parent);
    if (status != ERROR_SUCCESS) return status;
    for (DWORD i = 0; i < names.count; ++i) {
      const wchar_t* extension = names.Read(parent, i);
      if (!extension) continue;
      if (progress && progress->Stopping()) return ERROR_CANCELLED;
      WidePath identifier, extensionKey;
      if (extension[0] != L'.' || !identifierOf(extension, &identifier)) continue;
      if (!CommandNamesProgram(identifier.s, wideProgram)) continue;
      if (!extensionKey.Set(keyPrefix) || !extensionKey.Append(extension)) continue;
      if ((status = WriteMatch(extension, extensionKey.s, identifier.s)) != ERROR_SUCCESS) return status;
    }
    return ERROR_SUCCESS;
  }

  LONG MachineWide() {
    RegKey classes;
    const LONG status = RegOpenKeyExW(HKEY_CLASSES_ROOT, L"", 0, KEY_READ, classes.out());
    if (status != ERROR_SUCCESS) return status;
    return Pass(classes.get(), L"HKEY_CLASSES_ROOT\\", [&](const wchar_t* extension, WidePath* identifier) {
      return ReadDefaultValueOf(classes.get(), extension, identifier);
    });
  }

  LONG PerUser() {
    RegKey fileExts;
    const LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, kFileExtsPath, 0, KEY_READ, fileExts.out());
    // A user who never chose a program for a file type has no such key.
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    return Pass(fileExts.get(), kFileExtsKeyText, [&](const wchar_t* extension, WidePath* identifier) {
      RegKey entry;
      return RegOpenKeyExW(fileExts.get(), extension, 0, KEY_READ, entry.out()) == ERROR_SUCCESS &&
             ReadStringValue(entry.get(), L"ProgID", identifier);
    });
  }
};

}  // namespace

int ExportRelation(const char* program, const char* entryFolder, int /*unused*/, RunProgress* progress) {
  PathText fileName;
  WidePath wideProgram;
  if (!EntryRegFileName(entryFolder, &fileName) || !FromCodePage(program, &wideProgram)) return 1;
  // REGEDIT4 first; the Unicode form when the code page cannot carry a key.
  LONG status = ERROR_SUCCESS;
  for (bool unicode : {false, true}) {
    RegExport file(unicode);
    TextBuffer comment;
    TextBufferAppend(&comment, "; Relation with ");
    TextBufferAppend(&comment, program);
    TextBufferAppend(&comment, "\r\n");
    file.AppendLine(comment.text ? comment.text : "");
    RelationPass pass{progress, program, wideProgram.s, &file};
    status = pass.MachineWide();
    if (status == ERROR_SUCCESS) status = pass.PerUser();
    if (status == ERROR_SUCCESS) return file.WriteFile(fileName.s);
    if (status != ERROR_NO_UNICODE_TRANSLATION) break;
  }
  SetLastError(DWORD(status));
  return 1;
}

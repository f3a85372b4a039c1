#include "operations/relation_export.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "core/handles.h"
#include "core/messages.h"
#include "core/paths.h"
#include "operations/progress_window.h"
#include "operations/registry_export.h"

namespace {

constexpr char kFileExtsPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
constexpr char kFileExtsKeyText[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";

// Reads a string value into a path-sized buffer; false when it is missing,
// not a string, empty or too long.
bool ReadStringValue(HKEY key, const char* valueName, PathText* out) {
  DWORD type = 0, size = sizeof out->s - 1;
  out->Clear();
  if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(out->s), &size) != ERROR_SUCCESS)
    return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  out->s[size < sizeof out->s ? size : sizeof out->s - 1] = '\0';
  out->Refresh();
  return out->length > 0;
}

bool ReadDefaultValueOf(HKEY parent, const char* subKey, PathText* out) {
  RegKey key;
  if (RegOpenKeyExA(parent, subKey, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return false;
  return ReadStringValue(key.get(), "", out);
}

// True when the command that opens files of this identifier names program.
bool CommandNamesProgram(const char* identifier, const char* program) {
  PathText shellPath;
  if (!*identifier || !shellPath.Set(identifier) || !shellPath.Append("\\shell")) return false;
  RegKey shell;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, shellPath.s, 0, KEY_READ, shell.out()) != ERROR_SUCCESS) return false;
  PathText verb;
  if (!ReadStringValue(shell.get(), "", &verb)) verb.Set("open");
  if (!verb.Append("\\command")) return false;
  RegKey command;
  if (RegOpenKeyExA(shell.get(), verb.s, 0, KEY_READ, command.out()) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(command.get(), "", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  HeapBlock line(MemAlloc(size_t(size) + 1));
  if (!line) return false;
  if (RegQueryValueExA(command.get(), "", nullptr, &type, reinterpret_cast<BYTE*>(line.get()), &size) !=
      ERROR_SUCCESS)
    return false;
  line.get()[size] = '\0';
  return FindTextNoCase(line.get(), program) != nullptr;
}

void ShowProgress(ProgressWindow& window, int formatId, const char* program, const char* extension) {
  char text[kPathSize];
  snprintf(text, sizeof text, LoadMessage(formatId), program, extension);
  window.SetText(text);
}

// One pass over the sub-keys of a key: name buffer sized by the key itself.
struct SubKeyNames {
  DWORD count = 0;
  DWORD room = 0;
  HeapBlock name;
  LONG Init(HKEY key) {
    DWORD longest = 0;
    LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    room = longest * 2 + 1;
    name.reset(MemAlloc(room));
    return name ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
  }
  bool Read(HKEY key, DWORD index) {
    DWORD length = room;
    return RegEnumKeyExA(key, index, name.get(), &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  }
};

void WriteMatch(ProgressWindow& window, const char* program, const char* extension, const char* extensionKey,
                const char* identifier, TextBuffer* file) {
  ShowProgress(window, IDS_RELATION_WRITING, program, extension);
  WriteKeyText(nullptr, extensionKey, file);
  PathText identifierKey;
  if (identifierKey.Set("HKEY_CLASSES_ROOT\\") && identifierKey.Append(identifier))
    WriteKeyText(nullptr, identifierKey.s, file);
  ShowProgress(window, IDS_RELATION_WROTE, program, extension);
}

LONG MachineWidePass(ProgressWindow& window, const char* program, TextBuffer* file) {
  RegKey classes;
  LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, "", 0, KEY_READ, classes.out());
  if (status != ERROR_SUCCESS) return status;
  SubKeyNames names;
  if ((status = names.Init(classes.get())) != ERROR_SUCCESS) return status;
  for (DWORD i = 0; i < names.count; ++i) {
    if (!names.Read(classes.get(), i)) continue;
    window.SetPosition(int(50ull * i / names.count));
    const char* extension = names.name.get();
    if (extension[0] != '.') continue;
    PathText identifier, extensionKey;
    if (!ReadDefaultValueOf(classes.get(), extension, &identifier)) continue;
    if (!CommandNamesProgram(identifier.s, program)) continue;
    if (!extensionKey.Set("HKEY_CLASSES_ROOT\\") || !extensionKey.Append(extension)) continue;
    ReadDefaultValueOf(classes.get(), extension, &identifier);
    WriteMatch(window, program, extension, extensionKey.s, identifier.s, file);
  }
  return ERROR_SUCCESS;
}

LONG PerUserPass(ProgressWindow& window, const char* program, TextBuffer* file) {
  RegKey fileExts;
  LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, kFileExtsPath, 0, KEY_READ, fileExts.out());
  // A user who never chose a program for a file type has no such key.
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  SubKeyNames names;
  if ((status = names.Init(fileExts.get())) != ERROR_SUCCESS) return status;
  for (DWORD i = 0; i < names.count; ++i) {
    if (!names.Read(fileExts.get(), i)) continue;
    window.SetPosition(int(50ull * i / names.count + 50));
    const char* extension = names.name.get();
    if (extension[0] != '.') continue;
    RegKey entry;
    PathText identifier, extensionKey;
    if (RegOpenKeyExA(fileExts.get(), extension, 0, KEY_READ, entry.out()) != ERROR_SUCCESS) continue;
    if (!ReadStringValue(entry.get(), "ProgID", &identifier)) continue;
    if (!CommandNamesProgram(identifier.s, program)) continue;
    if (!extensionKey.Set(kFileExtsKeyText) || !extensionKey.Append(extension)) continue;
    ReadStringValue(entry.get(), "ProgID", &identifier);
    WriteMatch(window, program, extension, extensionKey.s, identifier.s, file);
  }
  return ERROR_SUCCESS;
}

}  // namespace

int ExportRelation(const char* program, const char* entryFolder, int /*unused*/) {
  PathText fileName;
  if (!EntryRegFileName(entryFolder, &fileName)) return 1;
  ProgressWindow window(IDS_CAPTION_EXPORTING_RELATIONS);
  ShowProgress(window, IDS_RELATION_SAVING, program, "");
  TextBuffer file;
  TextBufferInit(&file);
  TextBufferAppend(&file, "REGEDIT4\r\n\r\n; Relation with ");
  TextBufferAppend(&file, program);
  TextBufferAppend(&file, "\r\n\r\n");
  window.SetRange(0, 100);
  window.SetPosition(0);
  LONG status = MachineWidePass(window, program, &file);
  if (status == ERROR_SUCCESS) status = PerUserPass(window, program, &file);
  if (status != ERROR_SUCCESS) return SetLastError(DWORD(status)), 1;
  return WriteWholeFile(fileName.s, file);
}

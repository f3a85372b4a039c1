#include "backup/backup_check.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "backup/manifest.h"
#include "backup/reg_file.h"
#include "core/errors.h"
#include "core/files.h"
#include "core/handles.h"
#include "core/messages.h"
#include "core/registry_roots.h"
#include "core/wide_text.h"

namespace {

constexpr size_t kTextRoom = 1024;  // a "how" text: two value texts and some words
constexpr size_t kShownChars = 80;  // of a string value
constexpr DWORD kShownBytes = 24;   // of a binary value
constexpr DWORD kString = 1, kExpandString = 2, kDword = 4;
constexpr wchar_t kFileCommand[] = L"IF \"%FILE%\"==\"1\" xcopy ";
constexpr wchar_t kRegistryCommand[] = L"IF \"%REGI%\"==\"1\" regedit /s ";
// What a check writes beside the backup is no part of it.
const wchar_t* const kCheckFiles[] = {L"manifest.sha256", L"verify.txt", L"preview.txt"};

void SystemTextWide(DWORD code, wchar_t* out, size_t room) {
  TextBuffer text;
  AppendSystemErrorText(&text, code);
  out[0] = L'\0';
  if (text.text) MultiByteToWideChar(CP_ACP, 0, text.text, -1, out, int(room));
  out[room - 1] = L'\0';
  // The system's text ends in a line break; a list row shows none.
  for (size_t n = wcslen(out); n && (out[n - 1] == L'\n' || out[n - 1] == L'\r' || out[n - 1] == L' ');) out[--n] = 0;
}

void NumberText(uint64_t n, wchar_t* out) {
  wchar_t digits[24];
  size_t count = 0;
  do digits[count++] = wchar_t(L'0' + n % 10);
  while ((n /= 10) != 0);
  for (size_t i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
  out[count] = L'\0';
}

// A registry value as a person reads it, cut short: a quoted text, a dword,
// or the first bytes in the file's hex form.
void DescribeValue(DWORD type, const uint8_t* data, DWORD size, wchar_t* out, size_t room) {
  if ((type == kString || type == kExpandString) && size % 2 == 0) {
    size_t chars = size / 2;
    const auto* text = reinterpret_cast<const wchar_t*>(data);
    if (chars && text[chars - 1] == L'\0') --chars;
    const bool cut = chars > kShownChars;
    swprintf(out, room, L"\"%.*ls%ls\"", int(cut ? kShownChars : chars), text, cut ? L"..." : L"");
    return;
  }
  if (type == kDword && size == 4) {
    uint32_t value;
    memcpy(&value, data, 4);
    swprintf(out, room, L"dword:%08x", unsigned(value));
    return;
  }
  size_t n = size_t(swprintf(out, room, L"hex(%x):", unsigned(type)));
  for (DWORD i = 0; i < size && i < kShownBytes && n + 4 < room; ++i)
    n += size_t(swprintf(out + n, room - n, i ? L",%02x" : L"%02x", data[i]));
  if (size > kShownBytes && n + 4 < room) wcscpy(out + n, L"...");
}

bool IsPathPrefix(const wchar_t* folder, size_t length, const wchar_t* path) {
  return wcslen(path) > length && path[length] == L'\\' &&
         CompareStringOrdinal(folder, int(length), path, int(length), TRUE) == CSTR_EQUAL;
}

// ---- verify ----

class UnlistedVisitor final : public FileVisitor {
 public:
  UnlistedVisitor(const Manifest& manifest, CheckReport* report) : manifest_(manifest), report_(report) {}
  bool Visit(const WidePath& path, size_t relativeStart) override {
    const wchar_t* relative = path.s + relativeStart;
    if (!wcschr(relative, L'\\'))
      for (const wchar_t* own : kCheckFiles)
        if (SameRegistryName(relative, own)) return true;
    if (!manifest_.Find(relative)) return report_->Add(IDS_CHECK_UNLISTED, path.s, L"");
    return true;
  }

 private:
  const Manifest& manifest_;
  CheckReport* report_;
};

int Verify(const char* destination, const WidePath& root, CheckReport* report) {
  Manifest manifest;
  if (manifest.Read(destination) != ERROR_SUCCESS) return kCheckNoBackup;
  wchar_t how[kTextRoom];
  for (const ManifestEntry& entry : manifest.entries()) {
    ++report->compared;
    WidePath full = root;
    Sha256 digest;
    const DWORD code = full.Append(entry.path) ? HashFile(full.s, &digest) : DWORD(ERROR_FILENAME_EXCED_RANGE);
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
      report->Add(IDS_CHECK_MISSING, full.s, L"");
    } else if (code != ERROR_SUCCESS) {
      SystemTextWide(code, how, kTextRoom);
      report->Add(IDS_CHECK_UNREADABLE, full.s, how);
    } else if (!(digest == entry.digest)) {
      TextBuffer now, listed;
      AppendHex(digest, &now);
      AppendHex(entry.digest, &listed);
      wchar_t nowText[72] = {}, listedText[72] = {};
      if (now.text) MultiByteToWideChar(CP_ACP, 0, now.text, -1, nowText, 72);
      if (listed.text) MultiByteToWideChar(CP_ACP, 0, listed.text, -1, listedText, 72);
      FormatCatalogueText(how, kTextRoom, IDS_CHECK_HOW_HASH, nowText, listedText);
      report->Add(IDS_CHECK_CHANGED, full.s, how);
    }
  }
  UnlistedVisitor visitor(manifest, report);
  const DWORD code = WalkFiles(root, root.length, visitor);
  if (code != ERROR_SUCCESS) {
    SystemTextWide(code, how, kTextRoom);
    report->Add(IDS_CHECK_UNREADABLE, root.s, how);
  }
  return report->findings().size() ? kCheckDifferent : kCheckClean;
}

// ---- preview: files ----

// A quoted argument of a Restore.bat line as cmd reads it: "%%" is "%" and
// "%NAME%" the variable's value (a portable target such as "%APPDATA%\\X\\");
// an unset variable is empty in a batch file.
bool ReadScriptArgument(const wchar_t** cursor, WidePath* out) {
  const wchar_t* p = *cursor;
  while (*p == L' ') ++p;
  if (*p++ != L'"') return false;
  out->Clear();
  for (; *p && *p != L'"'; ++p) {
    if (*p != L'%') {
      if (!out->AppendChars(p, 1)) return false;
      continue;
    }
    if (p[1] == L'%') {
      ++p;
      if (!out->AppendChars(p, 1)) return false;
      continue;
    }
    const wchar_t* close = wcschr(p + 1, L'%');
    if (!close || close - p > 200) return false;
    wchar_t name[201] = {}, value[kPathSize] = {};
    wcsncpy(name, p + 1, size_t(close - p - 1));
    const DWORD length = GetEnvironmentVariableW(name, value, kPathSize);
    if (length >= kPathSize || !out->Append(value)) return false;
    p = close;
  }
  if (*p != L'"') return false;
  *cursor = p + 1;
  return true;
}

// Compares each file of a saved folder with the file xcopy would write over.
class RestoreFilesVisitor final : public FileVisitor {
 public:
  RestoreFilesVisitor(const WidePath& target, CheckReport* report) : target_(target), report_(report) {}
  bool Visit(const WidePath& path, size_t relativeStart) override {
    WidePath target = target_;
    if (!target.Append(path.s + relativeStart)) return Note(IDS_CHECK_UNREADABLE, target_, ERROR_FILENAME_EXCED_RANGE);
    WIN32_FILE_ATTRIBUTE_DATA saved, now;
    if (!GetFileAttributesExW(path.s, GetFileExInfoStandard, &saved))
      return Note(IDS_CHECK_UNREADABLE, path, GetLastError());
    wchar_t savedSize[24], nowSize[24], how[kTextRoom];
    NumberText(uint64_t(saved.nFileSizeHigh) << 32 | saved.nFileSizeLow, savedSize);
    if (!GetFileAttributesExW(target.s, GetFileExInfoStandard, &now)) {
      const DWORD code = GetLastError();
      if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return Note(IDS_CHECK_UNREADABLE, target, code);
      FormatCatalogueText(how, kTextRoom, IDS_CHECK_HOW_NEW_FILE, savedSize);
      return report_->Add(IDS_CHECK_FILE_CREATED, target.s, how);
    }
    NumberText(uint64_t(now.nFileSizeHigh) << 32 | now.nFileSizeLow, nowSize);
    Sha256 savedDigest, nowDigest;
    if (saved.nFileSizeHigh == now.nFileSizeHigh && saved.nFileSizeLow == now.nFileSizeLow) {
      DWORD code = HashFile(path.s, &savedDigest);
      if (code != ERROR_SUCCESS) return Note(IDS_CHECK_UNREADABLE, path, code);
      code = HashFile(target.s, &nowDigest);
      if (code != ERROR_SUCCESS) return Note(IDS_CHECK_UNREADABLE, target, code);
      if (savedDigest == nowDigest) return true;
    }
    FormatCatalogueText(how, kTextRoom, IDS_CHECK_HOW_FILE_SIZES, nowSize, savedSize);
    return report_->Add(IDS_CHECK_FILE_OVERWRITTEN, target.s, how);
  }

 private:
  bool Note(int whatId, const WidePath& where, DWORD code) {
    wchar_t how[kTextRoom];
    SystemTextWide(code, how, kTextRoom);
    return report_->Add(whatId, where.s, how);
  }
  const WidePath& target_;
  CheckReport* report_;
};

void PreviewFiles(const WidePath& root, const wchar_t* arguments, CheckReport* report) {
  WidePath source, target, folder = root;
  if (!ReadScriptArgument(&arguments, &source) || !ReadScriptArgument(&arguments, &target)) return;
  // "Dir\\3\\*.*": the saved folder, everything in it.
  if (source.length >= 3 && wcscmp(source.s + source.length - 3, L"*.*") == 0) source.Truncate(source.length - 3);
  if (!folder.Append(source.s) || !target.EnsureSeparator()) return;
  RestoreFilesVisitor visitor(target, report);
  const DWORD code = WalkFiles(folder, folder.length, visitor);
  if (code != ERROR_SUCCESS) {
    wchar_t how[kTextRoom];
    SystemTextWide(code, how, kTextRoom);
    report->Add(code == ERROR_PATH_NOT_FOUND ? IDS_CHECK_MISSING : IDS_CHECK_UNREADABLE, folder.s, how);
  }
}

// ---- preview: registry ----

// Opens the live key a full or short path names; the root itself for a bare root.
LONG OpenLiveKey(const wchar_t* path, RegKey* key) {
  char head[32] = {};
  size_t n = 0;
  for (; path[n] && path[n] != L'\\'; ++n) {
    if (n == sizeof head - 1 || path[n] > 0x7E) return ERROR_FILE_NOT_FOUND;
    head[n] = char(path[n]);
  }
  const HKEY root = LookupRootKey(head);
  if (!root) return ERROR_FILE_NOT_FOUND;
  return RegOpenKeyExW(root, path[n] ? path + n + 1 : nullptr, 0, KEY_READ, key->out());
}

// A live value's type and bytes, in a new block (MemFree it); null when absent.
uint8_t* ReadLiveValue(HKEY key, const wchar_t* name, DWORD* type, DWORD* size) {
  *size = 0;
  if (RegQueryValueExW(key, name, nullptr, type, nullptr, size) != ERROR_SUCCESS) return nullptr;
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto* data = static_cast<uint8_t*>(MemAlloc(*size + 2));
    if (!data) return nullptr;
    DWORD room = *size + 2;
    const LONG status = RegQueryValueExW(key, name, nullptr, type, data, &room);
    if (status == ERROR_SUCCESS) return *size = room, data;
    MemFree(data);
    if (status != ERROR_MORE_DATA) return nullptr;
    *size = room;
  }
  return nullptr;
}

class RegistryPreview {
 public:
  RegistryPreview(const RegFile& file, CheckReport* report) : file_(file), report_(report) {}
  void Run();

 private:
  bool IsSection(const wchar_t* path) const;
  bool IsAboveSection(const wchar_t* path) const;
  bool FileHasValue(const wchar_t* path, const wchar_t* name) const;
  void Where(const wchar_t* key, const wchar_t* name, WidePath* out) const;
  void CompareSection(size_t keyIndex);
  void WalkDeleted(const wchar_t* path);

  const RegFile& file_;
  CheckReport* report_;
};

bool RegistryPreview::IsSection(const wchar_t* path) const {
  for (const RegFileKey& key : file_.keys())
    if (key.section && SameRegistryName(key.path, path)) return true;
  return false;
}

bool RegistryPreview::IsAboveSection(const wchar_t* path) const {
  const size_t length = wcslen(path);
  for (const RegFileKey& key : file_.keys())
    if (key.section && IsPathPrefix(path, length, key.path)) return true;
  return false;
}

bool RegistryPreview::FileHasValue(const wchar_t* path, const wchar_t* name) const {
  for (const RegFileValue& value : file_.values())
    if (!value.remove && SameRegistryName(value.name, name) && SameRegistryName(file_.keys()[value.key].path, path))
      return true;
  return false;
}

// "key: name", the default value by the catalogue's name for it.
void RegistryPreview::Where(const wchar_t* key, const wchar_t* name, WidePath* out) const {
  wchar_t defaultName[64] = {};
  if (!*name) FormatCatalogueText(defaultName, 64, IDS_CHECK_DEFAULT_VALUE);
  out->Set(key);
  out->Append(L": ");
  out->Append(*name ? name : defaultName);
}

void RegistryPreview::CompareSection(size_t keyIndex) {
  const wchar_t* path = file_.keys()[keyIndex].path;
  RegKey live;
  const bool exists = OpenLiveKey(path, &live) == ERROR_SUCCESS;
  wchar_t how[kTextRoom], now[kTextRoom / 2], saved[kTextRoom / 2];
  bool anyValue = false;
  for (const RegFileValue& value : file_.values()) {
    if (value.key != keyIndex) continue;
    anyValue = true;
    WidePath where;
    Where(path, value.name, &where);
    DWORD type = 0, size = 0;
    HeapBlock data(exists ? ReadLiveValue(live.get(), value.name, &type, &size) : nullptr);
    if (data) DescribeValue(type, reinterpret_cast<const uint8_t*>(data.get()), size, now, kTextRoom / 2);
    if (value.remove) {
      if (!data) continue;
      FormatCatalogueText(how, kTextRoom, IDS_CHECK_HOW_NOW, now);
      report_->Add(IDS_CHECK_VALUE_DELETED, where.s, how);
      continue;
    }
    DescribeValue(value.type, value.data, value.size, saved, kTextRoom / 2);
    if (!data) {
      FormatCatalogueText(how, kTextRoom, IDS_CHECK_HOW_SAVED, saved);
      report_->Add(IDS_CHECK_VALUE_ADDED, where.s, how);
    } else if (type != value.type || size != value.size || memcmp(data.get(), value.data, size) != 0) {
      FormatCatalogueText(how, kTextRoom, IDS_CHECK_HOW_VALUE, now, saved);
      report_->Add(IDS_CHECK_VALUE_CHANGED, where.s, how);
    }
  }
  if (!exists && !anyValue) report_->Add(IDS_CHECK_KEY_CREATED, path, L"");
}

// Below a "[-key]" line: live keys the file does not make again are deleted
// with their trees, and live values it does not set again are deleted.
void RegistryPreview::WalkDeleted(const wchar_t* path) {
  RegKey live;
  if (OpenLiveKey(path, &live) != ERROR_SUCCESS) return;
  const bool section = IsSection(path);
  if (!section && !IsAboveSection(path)) {
    report_->Add(IDS_CHECK_KEY_DELETED, path, L"");
    return;
  }
  DWORD keyCount = 0, longestKey = 0, valueCount = 0, longestValue = 0;
  if (RegQueryInfoKeyW(live.get(), nullptr, nullptr, nullptr, &keyCount, &longestKey, nullptr, &valueCount,
                       &longestValue, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return;
  const DWORD room = (longestKey > longestValue ? longestKey : longestValue) + 1;
  HeapBlock nameBlock(MemAlloc(size_t(room) * sizeof(wchar_t)));
  if (!nameBlock) return;
  auto* name = reinterpret_cast<wchar_t*>(nameBlock.get());
  wchar_t how[kTextRoom], now[kTextRoom / 2];
  for (DWORD i = 0; i < valueCount; ++i) {
    DWORD length = room, type = 0, size = 0;
    if (RegEnumValueW(live.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    if (section && FileHasValue(path, name)) continue;
    HeapBlock data(ReadLiveValue(live.get(), name, &type, &size));
    DescribeValue(type, reinterpret_cast<const uint8_t*>(data.get() ? data.get() : ""), data ? size : 0, now,
                  kTextRoom / 2);
    FormatCatalogueText(how, kTextRoom, IDS_CHECK_HOW_NOW, now);
    WidePath where;
    Where(path, name, &where);
    report_->Add(IDS_CHECK_VALUE_DELETED, where.s, how);
  }
  for (DWORD i = 0; i < keyCount; ++i) {
    DWORD length = room;
    if (RegEnumKeyExW(live.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    WidePath child;
    if (child.Set(path) && child.Append(L"\\") && child.Append(name)) WalkDeleted(child.s);
  }
}

void RegistryPreview::Run() {
  const HeapList<RegFileKey>& keys = file_.keys();
  for (size_t i = 0; i < keys.size(); ++i) {
    if (!keys[i].deleted) continue;
    // A deletion inside another one is walked as part of it.
    bool inner = false;
    for (const RegFileKey& other : keys)
      inner = inner || (other.deleted && IsPathPrefix(other.path, wcslen(other.path), keys[i].path));
    if (!inner) WalkDeleted(keys[i].path);
  }
  for (size_t i = 0; i < keys.size(); ++i)
    if (keys[i].section) CompareSection(i);
}

void PreviewRegistry(const char* destination, const wchar_t* arguments, CheckReport* report) {
  WidePath relative;
  PathText path, inCodePage;
  if (!ReadScriptArgument(&arguments, &relative) || !InCodePage(relative.s, &inCodePage) || !path.Set(destination) ||
      !path.Append(inCodePage.s))
    return;
  WidePath where;
  FromCodePage(path.s, &where);
  size_t size = 0;
  HeapBlock bytes(ReadWholeFile(path.s, &size));
  wchar_t how[kTextRoom];
  if (!bytes) {
    const DWORD code = GetLastError();
    SystemTextWide(code, how, kTextRoom);
    report->Add(code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? IDS_CHECK_MISSING : IDS_CHECK_UNREADABLE,
                where.s, how);
    return;
  }
  RegFile file;
  const DWORD code = file.Parse(bytes.get(), size);
  if (code != ERROR_SUCCESS) {
    SystemTextWide(code, how, kTextRoom);
    report->Add(IDS_CHECK_UNREADABLE, where.s, how);
    return;
  }
  RegistryPreview(file, report).Run();
}

int Preview(const char* destination, const WidePath& root, CheckReport* report) {
  PathText scriptPath;
  if (!scriptPath.Set(destination) || !scriptPath.Append("Restore.bat")) return kCheckNoBackup;
  size_t size = 0;
  HeapBlock script(ReadWholeFile(scriptPath.s, &size));
  if (!script) return kCheckNoBackup;
  // The script is in the code page cmd reads it in: this system's console's.
  HeapBlock wide(WideFromBytes(CP_OEMCP, script.get(), size));
  if (!wide) return kCheckNoBackup;
  auto* text = reinterpret_cast<wchar_t*>(wide.get());
  // An appended script may repeat a command: it changes nothing the second time.
  HeapList<const wchar_t*> followed;
  for (wchar_t* line = text; *line;) {
    wchar_t* end = line + wcscspn(line, L"\r\n");
    const wchar_t* next = *end ? end + 1 : end;
    *end = L'\0';
    const bool files = wcsncmp(line, kFileCommand, wcslen(kFileCommand)) == 0;
    const bool registry = wcsncmp(line, kRegistryCommand, wcslen(kRegistryCommand)) == 0;
    bool repeated = false;
    for (const wchar_t* earlier : followed) repeated = repeated || wcscmp(earlier, line) == 0;
    if ((files || registry) && !repeated && followed.Push(line)) {
      ++report->compared;
      if (files)
        PreviewFiles(root, line + wcslen(kFileCommand), report);
      else
        PreviewRegistry(destination, line + wcslen(kRegistryCommand), report);
    }
    line = const_cast<wchar_t*>(next);
  }
  return report->findings().size() ? kCheckDifferent : kCheckClean;
}

// ---- the report ----

void AppendWide(TextBuffer* out, const wchar_t* text) { AppendUtf8(text, wcslen(text), out); }

void ComposeText(const WidePath& root, CheckReport* report) {
  const bool verify = report->kind == CheckKind::kVerify;
  wchar_t line[kTextRoom], count[24];
  TextBuffer* out = &report->text;
  FormatCatalogueText(line, kTextRoom, verify ? IDS_CHECK_VERIFY_TITLE : IDS_CHECK_PREVIEW_TITLE, root.s);
  AppendWide(out, line);
  TextBufferAppend(out, "\r\n");
  for (const CheckFinding& finding : report->findings()) {
    FormatCatalogueText(line, kTextRoom, finding.whatId);
    AppendWide(out, line);
    TextBufferAppend(out, "\t");
    AppendWide(out, finding.where);
    if (*finding.how) TextBufferAppend(out, "\t");
    AppendWide(out, finding.how);
    TextBufferAppend(out, "\r\n");
  }
  int closing = 0;
  if (report->result == kCheckNoBackup)
    closing = verify ? IDS_CHECK_NO_MANIFEST : IDS_CHECK_NO_SCRIPT;
  else if (report->result == kCheckClean)
    closing = verify ? IDS_CHECK_INTACT : IDS_CHECK_NOTHING_TO_CHANGE;
  else
    closing = verify ? IDS_CHECK_DIFFERENCES : IDS_CHECK_CHANGES;
  NumberText(report->result == kCheckClean ? report->compared : report->findings().size(), count);
  FormatCatalogueText(line, kTextRoom, closing, count);
  AppendWide(out, line);
  TextBufferAppend(out, "\r\n");
}

}  // namespace

CheckReport::~CheckReport() {
  for (CheckFinding& finding : findings_) {
    MemFree(finding.where);
    MemFree(finding.how);
  }
}

bool CheckReport::Add(int whatId, const wchar_t* where, const wchar_t* how) {
  CheckFinding finding{whatId, CopyWideText(where, wcslen(where)), CopyWideText(how, wcslen(how))};
  if (finding.where && finding.how && findings_.Push(finding)) return true;
  MemFree(finding.where);
  MemFree(finding.how);
  return false;
}

void FormatCatalogueText(wchar_t* out, size_t room, int messageId, ...) {
  // The catalogue's texts have no length limit (the usage is long).
  const char* text = LoadMessage(messageId);
  if (!text) text = "";
  HeapBlock format(WideFromBytes(CP_ACP, text, strlen(text)));
  out[0] = L'\0';
  if (!format) return;
  va_list arguments;
  va_start(arguments, messageId);
  if (vswprintf(out, room, reinterpret_cast<const wchar_t*>(format.get()), arguments) < 0) out[room - 1] = L'\0';
  va_end(arguments);
}

int RunBackupCheck(CheckKind kind, const char* destination, CheckReport* report) {
  report->kind = kind;
  PathText folder;
  WidePath root;
  if (!folder.Set(destination) || !folder.EnsureSeparator() || !FromCodePage(folder.s, &root)) {
    report->result = kCheckNoBackup;
  } else {
    report->result = kind == CheckKind::kVerify ? Verify(folder.s, root, report) : Preview(folder.s, root, report);
  }
  ComposeText(root, report);
  if (report->result == kCheckNoBackup || report->text.failed) return report->result;
  // UTF-8 with its byte-order mark, so that Notepad reads the names right.
  PathText path;
  TextBuffer file;
  TextBufferAppend(&file, "\xEF\xBB\xBF");
  TextBufferAppendBytes(&file, report->text.text, report->text.length);
  if (path.Set(folder.s) && path.Append(kind == CheckKind::kVerify ? "verify.txt" : "preview.txt") && !file.failed)
    WriteFileAside(path.s, file.text, file.length);
  return report->result;
}

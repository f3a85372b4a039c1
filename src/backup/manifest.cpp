#include "backup/manifest.h"

#include <bcrypt.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "core/files.h"
#include "core/handles.h"
#include "core/paths.h"

namespace {

constexpr DWORD kReadChunk = 64 * 1024;
constexpr size_t kHexDigits = 64;

bool ParseHex(const char* text, Sha256* digest) {
  for (size_t i = 0; i < 32; ++i) {
    const int high = HexDigitValue(text[2 * i]), low = HexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest->bytes[i] = uint8_t(high << 4 | low);
  }
  return true;
}

int ComparePaths(const wchar_t* a, const wchar_t* b) { return CompareStringOrdinal(a, -1, b, -1, TRUE) - CSTR_EQUAL; }

int CompareEntries(const void* a, const void* b) {
  return ComparePaths(static_cast<const ManifestEntry*>(a)->path, static_cast<const ManifestEntry*>(b)->path);
}

// True when a written line covers a manifest path: the same file, or a file
// inside the same copied folder ("Dir\\3\\").
bool Covers(const WidePath& written, const wchar_t* path) {
  if (written.length == 0) return false;
  if (written.s[written.length - 1] != L'\\') return ComparePaths(written.s, path) == 0;
  const size_t length = wcslen(path);
  return length > written.length &&
         CompareStringOrdinal(written.s, int(written.length), path, int(written.length), TRUE) == CSTR_EQUAL;
}

// Hashes each file it visits into a manifest.
class HashingVisitor final : public FileVisitor {
 public:
  explicit HashingVisitor(Manifest* manifest) : manifest_(manifest) {}
  bool Visit(const WidePath& path, size_t relativeStart) override {
    Sha256 digest;
    code = HashFile(path.s, &digest);
    if (code == ERROR_SUCCESS && !manifest_->Add(digest, path.s + relativeStart, path.length - relativeStart))
      code = ERROR_NOT_ENOUGH_MEMORY;
    return code == ERROR_SUCCESS;
  }
  DWORD code = ERROR_SUCCESS;

 private:
  Manifest* manifest_;
};

DWORD WalkFrom(WidePath& path, size_t relativeStart, FileVisitor& visitor, bool* stopped) {
  const size_t base = path.length;
  if (!path.Append(L"*")) return ERROR_FILENAME_EXCED_RANGE;
  WIN32_FIND_DATAW found;
  FindHandle find(FindFirstFileExW(path.s, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
  path.Truncate(base);
  if (!find) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : code;
  }
  do {
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
    path.Truncate(base);
    if (!path.Append(found.cFileName)) return ERROR_FILENAME_EXCED_RANGE;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
      if (!path.EnsureSeparator()) return ERROR_FILENAME_EXCED_RANGE;
      const DWORD code = WalkFrom(path, relativeStart, visitor, stopped);
      if (code != ERROR_SUCCESS || *stopped) return code;
    } else if (!visitor.Visit(path, relativeStart)) {
      *stopped = true;
      return ERROR_SUCCESS;
    }
  } while (FindNextFileW(find.get(), &found));
  const DWORD code = GetLastError();
  path.Truncate(base);
  return code == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : code;
}

}  // namespace

int HexDigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

DWORD HashFile(const wchar_t* path, Sha256* digest) {
  FileHandle file(
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return GetLastError();
  // bcrypt's failures have no Win32 code of their own.
  Sha256Hasher hasher;
  if (!hasher.Start()) return ERROR_INVALID_FUNCTION;
  HeapBlock chunk(MemAlloc(kReadChunk));
  if (!chunk) return ERROR_NOT_ENOUGH_MEMORY;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), chunk.get(), kReadChunk, &read, nullptr)) return GetLastError();
    if (read == 0) break;
    if (!hasher.Add(chunk.get(), read)) return ERROR_INVALID_FUNCTION;
  }
  return hasher.Finish(digest) ? ERROR_SUCCESS : ERROR_INVALID_FUNCTION;
}

void AppendHex(const Sha256& digest, TextBuffer* out) {
  static const char kHex[] = "0123456789abcdef";
  for (uint8_t byte : digest.bytes) {
    TextBufferAppendChar(out, kHex[byte >> 4]);
    TextBufferAppendChar(out, kHex[byte & 15]);
  }
}

DWORD WalkFiles(const WidePath& folder, size_t relativeStart, FileVisitor& visitor) {
  WidePath path = folder;
  bool stopped = false;
  return WalkFrom(path, relativeStart, visitor, &stopped);
}

Manifest::~Manifest() {
  for (ManifestEntry& entry : entries_) MemFree(entry.path);
}

bool Manifest::Add(const Sha256& digest, const wchar_t* path, size_t length) {
  wchar_t* copy = CopyWideText(path, length);
  if (!copy) return false;
  if (entries_.Push({digest, copy})) return true;
  MemFree(copy);
  return false;
}

void Manifest::Sort() {
  if (entries_.size() > 1) qsort(entries_.begin(), entries_.size(), sizeof(ManifestEntry), CompareEntries);
}

bool Manifest::HasAlikePaths() const {
  for (size_t i = 1; i < entries_.size(); ++i)
    if (ComparePaths(entries_[i - 1].path, entries_[i].path) == 0) return true;
  return false;
}

DWORD Manifest::Read(const char* destination) {
  PathText path;
  if (!path.Set(destination) || !path.Append(kManifestName)) return ERROR_FILENAME_EXCED_RANGE;
  size_t size = 0;
  HeapBlock text(ReadWholeFile(path.s, &size));
  if (!text) return GetLastError() ? GetLastError() : ERROR_READ_FAULT;
  char* cursor = text.get();
  // The last line may lack its line end.
  for (char* line = cursor; *line; line = cursor) {
    while (*cursor && *cursor != '\n') ++cursor;
    char* end = cursor;
    if (*cursor) ++cursor;
    if (end > line && end[-1] == '\r') --end;
    *end = '\0';
    // "<hex>  <name>" for text mode, "<hex> *<name>" for binary mode.
    Sha256 digest;
    if (size_t(end - line) <= kHexDigits + 2 || !ParseHex(line, &digest) || line[kHexDigits] != ' ' ||
        (line[kHexDigits + 1] != ' ' && line[kHexDigits + 1] != '*'))
      continue;
    const char* name = line + kHexDigits + 2;
    size_t length = 0;
    HeapBlock wide(WideFromBytes(CP_UTF8, name, strlen(name), &length));
    if (!wide) return ERROR_NOT_ENOUGH_MEMORY;
    auto* relative = reinterpret_cast<wchar_t*>(wide.get());
    for (wchar_t* p = relative; *p; ++p)
      if (*p == L'/') *p = L'\\';
    if (length && !Add(digest, relative, length)) return ERROR_NOT_ENOUGH_MEMORY;
  }
  Sort();
  return ERROR_SUCCESS;
}

const ManifestEntry* Manifest::Find(const wchar_t* path) const {
  size_t low = 0, high = entries_.size();
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const int order = ComparePaths(entries_[middle].path, path);
    if (order == 0) return &entries_[middle];
    if (order < 0)
      low = middle + 1;
    else
      high = middle;
  }
  return nullptr;
}

bool WrittenDigests::AddFolder(const char* folder, const Manifest& files) {
  WidePath line;
  failed_ = failed_ || !FromCodePage(folder, &line) || !lines_.Push(line);
  for (size_t i = 0; i < files.entries().size() && !failed_; ++i) {
    WidePath path = line;
    failed_ = !path.Append(files.entries()[i].path) || !digests_.Add(files.entries()[i].digest, path.s, path.length);
  }
  return !failed_;
}

bool WrittenDigests::AddFile(const char* file, const Sha256& digest) {
  WidePath line;
  failed_ = failed_ || !FromCodePage(file, &line) || !lines_.Push(line) || !digests_.Add(digest, line.s, line.length);
  return !failed_;
}

// True when every known line is among the written ones, in order: then each
// is passed over once and nothing is taken twice.
static bool MatchesLines(const WrittenDigests& known, const HeapList<WidePath>& lines) {
  if (known.failed()) return false;
  size_t next = 0;
  for (const WidePath& line : lines)
    if (next < known.lines().size() && wcscmp(known.lines()[next].s, line.s) == 0) ++next;
  return next == known.lines().size();
}

DWORD WriteManifest(const char* destination, const char* written, const WrittenDigests* known) {
  WidePath root;
  if (!FromCodePage(destination, &root)) return ERROR_FILENAME_EXCED_RANGE;
  // The written lines, wide, cut in place.
  HeapBlock wide(WideFromBytes(CP_ACP, written, strlen(written)));
  if (!wide) return ERROR_NOT_ENOUGH_MEMORY;
  auto* text = reinterpret_cast<wchar_t*>(wide.get());
  HeapList<WidePath> lines;
  for (wchar_t* line = text; *line;) {
    wchar_t* end = wcschr(line, L'\n');
    if (end) *end = L'\0';
    WidePath path;
    if (!path.Set(line)) return ERROR_FILENAME_EXCED_RANGE;
    if (!lines.Push(path)) return ERROR_NOT_ENOUGH_MEMORY;
    line = end ? end + 1 : line + wcslen(line);
  }

  if (known && !MatchesLines(*known, lines)) known = nullptr;

  // What an earlier run wrote and this one did not rewrite keeps its line.
  Manifest earlier, manifest;
  earlier.Read(destination);
  for (const ManifestEntry& entry : earlier.entries()) {
    bool rewritten = false;
    for (const WidePath& line : lines) rewritten = rewritten || Covers(line, entry.path);
    if (!rewritten && !manifest.Add(entry.digest, entry.path, wcslen(entry.path))) return ERROR_NOT_ENOUGH_MEMORY;
  }
  HashingVisitor visitor(&manifest);
  size_t knownLine = 0;
  for (const WidePath& line : lines) {
    if (known && knownLine < known->lines().size() && wcscmp(known->lines()[knownLine].s, line.s) == 0) {
      ++knownLine;
      continue;
    }
    WidePath full = root;
    if (!full.Append(line.s)) return ERROR_FILENAME_EXCED_RANGE;
    if (line.length && line.s[line.length - 1] == L'\\') {
      const DWORD code = WalkFiles(full, root.length, visitor);
      if (code != ERROR_SUCCESS) return code;
    } else {
      visitor.Visit(full, root.length);
    }
    if (visitor.code != ERROR_SUCCESS) return visitor.code;
  }
  if (known)
    for (const ManifestEntry& entry : known->digests().entries())
      if (!manifest.Add(entry.digest, entry.path, wcslen(entry.path))) return ERROR_NOT_ENOUGH_MEMORY;
  manifest.Sort();

  // Names go out as UTF-8 whatever the code page: `sha256sum -c` on the
  // other side reads them as the bytes of its own (UTF-8) file names.
  TextBuffer out;
  for (const ManifestEntry& entry : manifest.entries()) {
    AppendHex(entry.digest, &out);
    TextBufferAppend(&out, "  ");
    const uint32_t start = out.length;
    if (!AppendUtf8(entry.path, wcslen(entry.path), &out)) return ERROR_NO_UNICODE_TRANSLATION;
    for (uint32_t i = start; out.text && i < out.length; ++i)
      if (out.text[i] == '\\') out.text[i] = '/';
    TextBufferAppendChar(&out, '\n');
  }
  if (out.failed) return ERROR_NOT_ENOUGH_MEMORY;
  PathText path;
  if (!path.Set(destination) || !path.Append(kManifestName)) return ERROR_FILENAME_EXCED_RANGE;
  return WriteFileAside(path.s, out.text ? out.text : "", out.length);
}

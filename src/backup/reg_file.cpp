#include "backup/reg_file.h"

#include <cstring>
#include <cwchar>

#include "backup/manifest.h"
#include "core/wide_text.h"

namespace {

constexpr wchar_t kRegedit4[] = L"REGEDIT4";
constexpr wchar_t kRegedit5[] = L"Windows Registry Editor Version 5.00";
constexpr DWORD kString = 1, kExpandString = 2, kBinary = 3, kDword = 4, kMultiString = 7;

bool StartsWith(const wchar_t* text, const wchar_t* prefix) { return wcsncmp(text, prefix, wcslen(prefix)) == 0; }

// Reads a quoted text at p (just after its opening quote) in place, "\\\\"
// and "\\\"" undone; *end is left after the closing quote. False when the
// quote is not closed.
bool Unquote(wchar_t* p, wchar_t** text, size_t* length, wchar_t** end) {
  *text = p;
  wchar_t* out = p;
  for (; *p && *p != L'"'; ++p) {
    if (*p == L'\\' && (p[1] == L'\\' || p[1] == L'"')) ++p;
    *out++ = *p;
  }
  if (*p != L'"') return false;
  *length = size_t(out - *text);
  *end = p + 1;
  return true;
}

// "aa,bb,..." into bytes; blanks between them are allowed.
uint8_t* ParseByteList(const wchar_t* p, DWORD* size) {
  const size_t room = wcslen(p) / 2 + 1;
  auto* bytes = static_cast<uint8_t*>(MemAlloc(room));
  if (!bytes) return nullptr;
  DWORD n = 0;
  for (;;) {
    while (*p == L' ' || *p == L'\t') ++p;
    if (!*p) break;
    const int high = HexDigitValue(p[0]), low = high < 0 ? -1 : HexDigitValue(p[1]);
    if (low < 0 || n == room) break;
    bytes[n++] = uint8_t(high << 4 | low);
    p += 2;
    while (*p == L' ' || *p == L'\t') ++p;
    if (*p != L',') break;
    ++p;
  }
  *size = n;
  return bytes;
}

// REGEDIT4 holds string types in the code page; the import stores them wide.
uint8_t* WidenCodePageBytes(uint8_t* bytes, DWORD* size) {
  HeapBlock owned(bytes);
  if (*size == 0) return static_cast<uint8_t*>(owned.release());
  const int units = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes), int(*size), nullptr, 0);
  auto* wide = static_cast<uint8_t*>(MemAlloc(size_t(units > 0 ? units : 0) * sizeof(wchar_t) + 1));
  if (!wide) return nullptr;
  MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(bytes), int(*size), reinterpret_cast<wchar_t*>(wide),
                      units);
  *size = DWORD(units) * sizeof(wchar_t);
  return wide;
}

}  // namespace

bool SameRegistryName(const wchar_t* a, const wchar_t* b) {
  return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

RegFile::~RegFile() {
  for (RegFileKey& key : keys_) MemFree(key.path);
  for (RegFileValue& value : values_) {
    MemFree(value.name);
    MemFree(value.data);
  }
}

bool RegFile::ParseValue(wchar_t* line) {
  wchar_t* name = line;
  size_t nameLength = 0;
  wchar_t* p = line + 1;
  if (*line == L'"' && !Unquote(line + 1, &name, &nameLength, &p)) return true;
  if (*p != L'=') return true;
  ++p;
  RegFileValue value = {keys_.size() - 1, nullptr, kString, nullptr, 0, false};
  if (*p == L'-') {
    value.remove = true;
  } else if (*p == L'"') {
    wchar_t *text = nullptr, *end = nullptr;
    size_t length = 0;
    if (!Unquote(p + 1, &text, &length, &end)) return true;
    value.size = DWORD((length + 1) * sizeof(wchar_t));
    value.data = reinterpret_cast<uint8_t*>(CopyWideText(text, length));
    if (!value.data) return false;
  } else if (StartsWith(p, L"dword:")) {
    uint32_t number = 0;
    int digits = 0;
    for (p += 6; HexDigitValue(*p) >= 0 && digits < 8; ++p, ++digits)
      number = number << 4 | uint32_t(HexDigitValue(*p));
    if (digits != 8) return true;
    value.type = kDword;
    value.size = 4;
    value.data = static_cast<uint8_t*>(MemAlloc(4));
    if (!value.data) return false;
    memcpy(value.data, &number, 4);  // little-endian, as the registry keeps it
  } else if (StartsWith(p, L"hex:") || StartsWith(p, L"hex(")) {
    value.type = kBinary;
    p += 3;
    if (*p == L'(') {
      value.type = 0;
      for (++p; HexDigitValue(*p) >= 0; ++p) value.type = value.type << 4 | DWORD(HexDigitValue(*p));
      if (*p++ != L')') return true;
    }
    if (*p++ != L':') return true;
    value.data = ParseByteList(p, &value.size);
    const bool isString = value.type == kString || value.type == kExpandString || value.type == kMultiString;
    if (value.data && isString && !unicode_) value.data = WidenCodePageBytes(value.data, &value.size);
    if (!value.data) return false;
  } else {
    return true;
  }
  value.name = CopyWideText(name, nameLength);
  if (value.name && values_.Push(value)) return true;
  MemFree(value.name);
  MemFree(value.data);
  return false;
}

bool RegFile::ParseLine(wchar_t* line) {
  if (*line == L'[') {
    wchar_t* close = wcsrchr(line, L']');
    if (!close) return true;
    const bool deleted = line[1] == L'-';
    wchar_t* path = line + (deleted ? 2 : 1);
    inSection_ = !deleted;
    // The section after its own deletion line shares the record.
    if (keys_.size() && !deleted) {
      RegFileKey& last = keys_[keys_.size() - 1];
      *close = L'\0';
      const bool same = last.deleted && !last.section && SameRegistryName(last.path, path);
      *close = L']';
      if (same) return last.section = true;
    }
    RegFileKey key = {CopyWideText(path, size_t(close - path)), deleted, !deleted};
    if (key.path && keys_.Push(key)) return true;
    MemFree(key.path);
    return false;
  }
  if ((*line == L'@' || *line == L'"') && inSection_) return ParseValue(line);
  return true;
}

DWORD RegFile::Parse(const char* bytes, size_t size) {
  HeapBlock owned;
  size_t count = 0;
  if (size >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
    count = (size - 2) / 2;
    owned.reset(CopyWideText(reinterpret_cast<const wchar_t*>(bytes + 2), count));
  } else {
    owned.reset(WideFromBytes(CP_ACP, bytes, size, &count));
  }
  if (!owned) return ERROR_NOT_ENOUGH_MEMORY;
  auto* text = reinterpret_cast<wchar_t*>(owned.get());
  HeapBlock scratch(MemAlloc((count + 1) * sizeof(wchar_t)));
  if (!scratch) return ERROR_NOT_ENOUGH_MEMORY;
  auto* line = reinterpret_cast<wchar_t*>(scratch.get());

  bool header = false;
  for (const wchar_t* p = text; *p;) {
    // One logical line: a byte list continues over lines that end in "\\".
    size_t length = 0;
    for (;;) {
      while (*p == L' ' || *p == L'\t') ++p;
      while (*p && *p != L'\r' && *p != L'\n') line[length++] = *p++;
      if (*p == L'\r') ++p;
      if (*p == L'\n') ++p;
      while (length && (line[length - 1] == L' ' || line[length - 1] == L'\t')) --length;
      line[length] = L'\0';
      const bool continues =
          length && line[length - 1] == L'\\' && (line[0] == L'"' || line[0] == L'@') && wcsstr(line, L"=hex") && *p;
      if (!continues) break;
      line[--length] = L'\0';
    }
    if (length == 0 || line[0] == L';') continue;
    if (!header) {
      if (wcscmp(line, kRegedit4) != 0 && wcscmp(line, kRegedit5) != 0) return ERROR_INVALID_DATA;
      unicode_ = wcscmp(line, kRegedit5) == 0;
      header = true;
      continue;
    }
    if (!ParseLine(line)) return ERROR_NOT_ENOUGH_MEMORY;
  }
  return header ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

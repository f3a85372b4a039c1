#include "core/wide_text.h"

#include <cstring>

#include "core/messages.h"

bool WidePath::AppendChars(const wchar_t* chars, size_t count) {
  if (length + count >= kPathSize) {
    overflowed = true;
    return SetLastError(ERROR_FILENAME_EXCED_RANGE), false;
  }
  memcpy(s + length, chars, count * sizeof(wchar_t));
  length += count;
  s[length] = L'\0';
  return true;
}

bool WidePath::Append(const wchar_t* text) { return AppendChars(text, wcslen(text)); }

bool WidePath::EnsureSeparator() {
  if (length == 0 || s[length - 1] == L'\\') return true;
  return AppendChars(L"\\", 1);
}

bool AppendFromCodePage(const char* text, size_t length, WidePath* out) {
  if (length == 0) return true;
  wchar_t converted[kPathSize];
  const int n = length < kPathSize ? MultiByteToWideChar(CP_ACP, 0, text, int(length), converted, int(kPathSize)) : 0;
  if (n <= 0) {
    out->overflowed = true;
    return SetLastError(ERROR_FILENAME_EXCED_RANGE), false;
  }
  return out->AppendChars(converted, size_t(n));
}

namespace {

// The bytes of text in the code page, or -1 when a character has no exact
// form there (a best-fit letter or the default character would stand in).
int CodePageLength(UINT codePage, const wchar_t* text, size_t length) {
  if (length == 0) return 0;
  BOOL usedDefault = FALSE;
  const int n =
      WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text, int(length), nullptr, 0, nullptr, &usedDefault);
  return n > 0 && !usedDefault ? n : -1;
}

// Appends text that is all ASCII, which reads the same in every code page
// the system uses and in UTF-8, byte for character; false, with nothing
// appended, for any other text.
bool AppendIfAscii(const wchar_t* text, size_t length, TextBuffer* out) {
  for (size_t i = 0; i < length; ++i)
    if (text[i] >= 0x80) return false;
  char bytes[256];
  for (size_t done = 0; done < length;) {
    const size_t n = length - done < sizeof bytes ? length - done : sizeof bytes;
    for (size_t i = 0; i < n; ++i) bytes[i] = char(text[done + i]);
    TextBufferAppendBytes(out, bytes, n);
    done += n;
  }
  return !out->failed;
}

}  // namespace

bool AppendInCodePage(const wchar_t* text, size_t length, TextBuffer* out, UINT codePage) {
  if (AppendIfAscii(text, length, out)) return true;
  const int n = CodePageLength(codePage, text, length);
  if (n < 0) return false;
  if (n == 0) return true;
  HeapBlock bytes(MemAlloc(size_t(n)));
  if (!bytes) return false;
  WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text, int(length), bytes.get(), n, nullptr, nullptr);
  // Some code pages map two wide characters to one byte sequence: only text
  // that converts back to itself is carried.
  HeapBlock back(MemAlloc(length * sizeof(wchar_t)));
  if (!back ||
      MultiByteToWideChar(codePage, 0, bytes.get(), n, reinterpret_cast<wchar_t*>(back.get()), int(length)) !=
          int(length) ||
      memcmp(back.get(), text, length * sizeof(wchar_t)) != 0)
    return false;
  return TextBufferAppendBytes(out, bytes.get(), size_t(n)) != 0;
}

bool InCodePage(const wchar_t* text, PathText* out, UINT codePage) {
  TextBuffer converted;
  out->Clear();
  if (!AppendInCodePage(text, wcslen(text), &converted, codePage)) return false;
  return out->Set(converted.text ? converted.text : "");
}

bool AppendUtf8(const wchar_t* text, size_t length, TextBuffer* out) {
  if (length == 0 || AppendIfAscii(text, length, out)) return true;
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, int(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  HeapBlock bytes(MemAlloc(size_t(n)));
  if (!bytes) return false;
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, int(length), bytes.get(), n, nullptr, nullptr);
  return TextBufferAppendBytes(out, bytes.get(), size_t(n)) != 0;
}

void ShowableText(const wchar_t* text, PathText* out) {
  out->Clear();
  char shown[kPathSize * 2] = {};
  BOOL usedDefault = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, shown, int(sizeof shown - 1), "?", &usedDefault);
  out->Set(shown);
  if (usedDefault) {
    out->Append(" ");
    out->Append(LoadMessage(IDS_NOT_SHOWN_CHARACTERS));
  }
}

wchar_t* CopyWideText(const wchar_t* text, size_t length) {
  auto* copy = static_cast<wchar_t*>(MemAlloc((length + 1) * sizeof(wchar_t)));
  if (!copy) return nullptr;
  memcpy(copy, text, length * sizeof(wchar_t));
  copy[length] = L'\0';
  return copy;
}

wchar_t* WideFromBytes(UINT codePage, const char* bytes, size_t size, size_t* length) {
  const int units = size ? MultiByteToWideChar(codePage, 0, bytes, int(size), nullptr, 0) : 0;
  const size_t count = size_t(units > 0 ? units : 0);
  auto* wide = static_cast<wchar_t*>(MemAlloc((count + 1) * sizeof(wchar_t)));
  if (!wide) return nullptr;
  if (count) MultiByteToWideChar(codePage, 0, bytes, int(size), wide, units);
  wide[count] = L'\0';
  if (length) *length = count;
  return wide;
}

#include "operations/reg_format.h"

#include <cstdio>
#include <cstring>

#include "core/code_page.h"

namespace {

// The registry's value types that have a form of their own in the file.
constexpr uint32_t kString = 1, kBinary = 3, kDword = 4;
constexpr uint32_t kWrapAt = 77;  // a byte list line of 77 or more characters continues

void AppendByteList(TextBuffer* out, uint32_t lineStart, const uint8_t* data, uint32_t size) {
  static const char kHex[] = "0123456789abcdef";
  for (uint32_t i = 0; i < size; ++i) {
    char piece[3] = {kHex[data[i] >> 4], kHex[data[i] & 15], ','};
    const bool more = i + 1 < size;
    TextBufferAppendBytes(out, piece, more ? 3 : 2);
    // A continuation after the last byte would leave a line of blanks, which
    // regedit does not import: the value would be lost on restore.
    if (more && out->length - lineStart >= kWrapAt) {
      // regedit reads a trailing backslash as a line continuation
      TextBufferAppendBytes(out, "\\\r\n  ", 5);
      lineStart = out->length - 2;
    }
  }
}

// A string value goes out as quoted text only when the text form imports to
// exactly the same bytes: one terminating NUL at the end, no line break, and
// whole characters (a lead byte without its trail would swallow the quote).
bool StringFitsQuotedForm(const uint8_t* data, uint32_t size) {
  if (size == 0 || data[size - 1] != 0) return false;
  for (uint32_t i = 0; i + 1 < size; ++i)
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') return false;
  return TextCodePage().IsWellFormed(reinterpret_cast<const char*>(data), size - 1);
}

}  // namespace

void EscapeRegString(TextBuffer* out, const char* text, size_t length) {
  const char* end = text + length;
  const char* run = text;
  const CodePage& codePage = TextCodePage();
  for (const char* p = text; p < end; p = codePage.Next(p)) {
    if (*p != '\\' && *p != '"') continue;
    TextBufferAppendBytes(out, run, size_t(p - run));
    TextBufferAppendBytes(out, *p == '\\' ? "\\\\" : "\\\"", 2);
    run = p + 1;
  }
  if (run < end) TextBufferAppendBytes(out, run, size_t(end - run));
}

void AppendValueLine(TextBuffer* out, const char* name, uint32_t type, const uint8_t* data, uint32_t size) {
  const uint32_t lineStart = out->length;
  if (!*name) {
    TextBufferAppendBytes(out, "@=", 2);
  } else {
    TextBufferAppendChar(out, '"');
    EscapeRegString(out, name, strlen(name));
    TextBufferAppendBytes(out, "\"=", 2);
  }
  if (type == kString && StringFitsQuotedForm(data, size)) {
    TextBufferAppendChar(out, '"');
    EscapeRegString(out, reinterpret_cast<const char*>(data), size - 1);
    TextBufferAppendChar(out, '"');
  } else if (type == kDword && size == 4) {
    char text[16];
    const uint32_t value =
        uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    snprintf(text, sizeof text, "dword:%08x", value);
    TextBufferAppend(out, text);
    TextBufferAppendBytes(out, "\r\n", 2);
    return;
  } else {
    char prefix[24];
    if (type == kBinary)
      strcpy(prefix, "hex:");
    else
      snprintf(prefix, sizeof prefix, "hex(%x):", unsigned(type));
    TextBufferAppend(out, prefix);
    AppendByteList(out, lineStart, data, size);
  }
  TextBufferAppendBytes(out, "\r\n", 2);
}

bool FitsValueLine(const char* name, size_t length) {
  return !memchr(name, '\r', length) && !memchr(name, '\n', length) && TextCodePage().IsWellFormed(name, length);
}

void AppendKeyHeader(TextBuffer* out, const char* fullKeyName) {
  TextBufferAppendBytes(out, "[-", 2);
  TextBufferAppend(out, fullKeyName);
  TextBufferAppendBytes(out, "]\r\n[", 4);
  TextBufferAppend(out, fullKeyName);
  TextBufferAppendBytes(out, "]\r\n", 3);
}

// libFuzzer target: a value of any name, type and data, written as a
// REGEDIT4 value line and read back the way the registry editor reads it:
// the name, the type and every data byte must come back, under Shift-JIS or
// a single-byte code page.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/code_page.h"
#include "core/memory.h"
#include "operations/reg_format.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& line) {
  fprintf(stderr, "%s:\n%s\n", what, line.c_str());
  abort();
}

// A quoted text from just after its opening quote: "\\" and "\"" stand for
// one character; a double-byte character is taken whole.
bool ReadQuoted(const std::string& line, size_t* at, std::string* text) {
  const CodePage& cp = TextCodePage();
  while (*at < line.size()) {
    const char c = line[*at];
    if (cp.IsLead(c) && *at + 1 < line.size()) {
      text->append(line, *at, 2);
      *at += 2;
    } else if (c == '\\' && *at + 1 < line.size()) {
      text->push_back(line[*at + 1]);
      *at += 2;
    } else if (c == '"') {
      ++*at;
      return true;
    } else {
      text->push_back(c);
      ++*at;
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A list of two-digit lower-case bytes, "," between them, continued on the
// next line after a "\\", CR LF and two spaces.
bool ReadByteList(const std::string& line, size_t at, std::string* bytes) {
  while (at < line.size()) {
    if (line.compare(at, 5, "\\\r\n  ") == 0) {
      at += 5;
      continue;
    }
    if (at + 2 > line.size() || HexDigit(line[at]) < 0 || HexDigit(line[at + 1]) < 0) return false;
    bytes->push_back(char(HexDigit(line[at]) * 16 + HexDigit(line[at + 1])));
    at += 2;
    if (at < line.size() && line[at] == ',') ++at;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  SetTextCodePage(data[0] & 1 ? ShiftJisCodePage() : CodePage(1252, {}));
  const uint32_t type = data[1] % 12;
  const size_t nameLength = data[2] % 32 < size - 3 ? data[2] % 32 : size - 3;
  const std::string name(reinterpret_cast<const char*>(data + 3), nameLength);
  const std::string value(reinterpret_cast<const char*>(data + 3 + nameLength), size - 3 - nameLength);
  // The exporter refuses names a line cannot carry; a NUL ends a name.
  if (name.find('\0') != std::string::npos || !FitsValueLine(name.c_str(), name.size())) return 0;

  TextBuffer out;
  AppendValueLine(&out, name.c_str(), type, reinterpret_cast<const uint8_t*>(value.data()), uint32_t(value.size()));
  const std::string line(out.text, out.length);
  if (line.size() < 4 || line.compare(line.size() - 2, 2, "\r\n") != 0) Fail("no line end", line);
  const std::string body = line.substr(0, line.size() - 2);

  size_t at = 0;
  std::string readName;
  if (body.compare(0, 2, "@=") == 0) {
    at = 2;
  } else if (body[0] == '"') {
    at = 1;
    if (!ReadQuoted(body, &at, &readName) || body.compare(at, 1, "=") != 0) Fail("name", line);
    ++at;
  } else {
    Fail("name part", line);
  }
  if (readName != name) Fail("the name did not come back", line);

  uint32_t readType = 0;
  std::string readData;
  if (body[at] == '"') {
    ++at;
    readType = 1;
    if (!ReadQuoted(body, &at, &readData) || at != body.size()) Fail("string", line);
    readData.push_back('\0');
  } else if (body.compare(at, 6, "dword:") == 0) {
    readType = 4;
    const std::string digits = body.substr(at + 6);
    if (digits.size() != 8) Fail("dword", line);
    const uint32_t v = uint32_t(strtoul(digits.c_str(), nullptr, 16));
    readData.assign(reinterpret_cast<const char*>(&v), 4);
  } else if (body.compare(at, 4, "hex:") == 0) {
    readType = 3;
    if (!ReadByteList(body, at + 4, &readData)) Fail("byte list", line);
  } else if (body.compare(at, 4, "hex(") == 0) {
    char* end = nullptr;
    readType = uint32_t(strtoul(body.c_str() + at + 4, &end, 16));
    if (!end || end[0] != ')' || end[1] != ':') Fail("hex type", line);
    if (!ReadByteList(body, size_t(end + 2 - body.c_str()), &readData)) Fail("byte list", line);
  } else {
    Fail("data part", line);
  }
  if (readType != type) Fail("the type did not come back", line);
  if (readData != value) Fail("the data did not come back", line);
  for (size_t brk = body.find_first_of("\r\n"); brk != std::string::npos; brk = body.find_first_of("\r\n", brk + 2))
    if (body.compare(brk - 1, 5, "\\\r\n  ") != 0) Fail("a line break outside a continuation", line);
  return 0;
}

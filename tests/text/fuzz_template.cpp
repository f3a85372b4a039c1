// libFuzzer target: any bytes as a template, read under Shift-JIS or a
// single-byte code page. The lines are cut and parsed as the backup and the
// editor do, and every name goes into an echo line of the restore script,
// which must stay inert for a reader in either code page.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "backup/restore_lines.h"
#include "backup/template_format.h"
#include "cmd_reader.h"
#include "core/code_page.h"
#include "core/memory.h"
#include "core/text_scan.h"

namespace {

void Fail(const char* what, const std::string& detail) {
  fprintf(stderr, "%s: %s\n", what, detail.c_str());
  abort();
}

void CheckEcho(const char* name) {
  TextBuffer script;
  AppendRestoreEcho(&script, name);
  const std::string line(script.text, script.length);
  if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) Fail("echo line end", line);
  const std::string body = line.substr(0, line.size() - 2);
  if (body.find_first_of("\r\n") != std::string::npos) Fail("line break inside an echo line", line);
  for (const CodePage& reader : {CodePage(1252, {}), ShiftJisCodePage(), CodePage(0, {{0x80, 0xFF}})}) {
    const std::string active = FindActiveCharacter(body, reader);
    if (!active.empty()) Fail(active.c_str(), body);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  SetTextCodePage(data[0] & 1 ? ShiftJisCodePage() : CodePage(1252, {}));
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text.push_back('\0');
  char* cursor = text.data();
  for (char* line; (line = TakeLine(&cursor)) != nullptr;) {
    if (strchr(line, '\n')) Fail("a line holds LF", line);
    TemplateEntry entry;
    if (ParseEntryLine(line, &entry) && entry.argument != line + 2) Fail("argument", line);
    ParseEntryLineByCharacter(line, &entry);
    IsSafeTemplateDirectory(line);
    // A folder the script may name inside quotes holds no quote.
    if (FitsInQuotes(line) && strchr(line, '"')) Fail("a quote fits in quotes", line);
    CheckEcho(line);
  }
  return 0;
}

#include <doctest.h>

#include <cstring>
#include <string>

#include "core/text_scan.h"
#include "core/messages.h"
#include "core/paths.h"
#include "core/registry_roots.h"
#include "support/test_support.h"

namespace {

std::string Cut(std::string text, int calls) {
  std::string out;
  char* cursor = text.data();
  for (int i = 0; i < calls; ++i) {
    const char* line = TakeLine(&cursor);
    out += line ? "[" + std::string(line) + "]" : "(none)";
  }
  return out;
}

// "表" in Shift-JIS is 0x95 0x5C: its trail byte is a backslash.
const std::string kTrail5C = "\x95\x5c";

}  // namespace

TEST_CASE("TakeLine cuts at LF, CR LF and lone CR and drops an unterminated last line") {
  CHECK(Cut("a\nb\r\nc", 3) == "[a][b](none)");
  CHECK(Cut("a\rb\r\rc\n", 4) == "[a][b][][c]");
  CHECK(Cut("", 1) == "(none)");
  CHECK(Cut("\n\n", 3) == "[][](none)");
  // A trail byte is never taken for a line end or separator, and a lead byte
  // before CR does not swallow it.
  CHECK(Cut(kTrail5C + "x\r\n", 2) == "[" + kTrail5C + "x](none)");
  // NextLine, which counts lines, counts an unterminated last line.
  const char* cursor = "a\r\nb\rc";
  int count = 0;
  while (NextLine(&cursor)) ++count;
  CHECK(count == 3);
}

TEST_CASE("PathText refuses what does not fit in 260 bytes") {
  PathText p;
  CHECK(p.Set(std::string(259, 'a').c_str()));
  CHECK_FALSE(p.Append("b"));
  CHECK(GetLastError() == ERROR_FILENAME_EXCED_RANGE);
  CHECK(p.overflowed);
  CHECK(p.length == 259);
  CHECK_FALSE(p.EnsureSeparator());
  CHECK_FALSE(p.Set(std::string(260, 'a').c_str()));
  CHECK(p.length == 0);
  CHECK(p.Set("x"));
  CHECK_FALSE(p.overflowed);
}

TEST_CASE("Shift-JIS trail bytes 0x5C are no separators" * doctest::skip(!JapaneseSystem())) {
  std::string name = "a\\" + kTrail5C;  // a folder "a", then the name "表"
  std::vector<char> s(name.begin(), name.end());
  s.resize(name.size() + 2, '\0');
  CHECK(std::string(FindFileNamePart(s.data())) == kTrail5C);
  CHECK(AddTrailingSeparator(s.data()) == 1);  // its last character is "表", not "\\"
  CHECK(std::string(s.data()) == name + "\\");

  ScratchFolder folder;
  const std::string deep = folder / (kTrail5C + "\\" + kTrail5C + "x\\");
  CreateDirectoryPath(deep.c_str());
  CHECK(IsDirectory(deep));
  CHECK(ListTree(folder.path()) == std::vector<std::string>{kTrail5C + "\\", kTrail5C + "\\" + kTrail5C + "x\\"});
}

TEST_CASE("catalogue texts in the active language, whole") {
  const char* first = LoadMessage(IDS_CAPTION_ERROR);
  CHECK(std::string(LoadMessage(2003)) == kNoStringResource);
  CHECK(std::string(LoadMessage(5002)) == kNoStringResource);
  CHECK(std::string(first) == (JapaneseSystem() ? "\x83\x47\x83\x89\x81\x5b" : "Error"));  // "エラー"
  // Texts the original tables left to the English side exist in both.
  for (int id : {IDS_USE_REGEDIT, IDS_STOP_BACKUP, IDS_LOG_STOPPED, IDS_CAPTION_CONFIRM})
    CHECK(std::string(LoadMessage(id)) != kNoStringResource);
  const std::string text = LoadMessage(60000);  // a test-only text of 289 bytes, longer than one block
  CHECK(text.size() == 289);
  CHECK(text.back() == '!');
}

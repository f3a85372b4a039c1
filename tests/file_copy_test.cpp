#include <doctest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/handles.h"
#include "core/paths.h"
#include "operations/file_copy.h"
#include "support/test_support.h"

namespace {

using Names = std::vector<std::string>;

// A source tree with files at the top, hidden and read-only ones, an empty
// folder, a folder named like a match and nested folders.
void MakeSource(const ScratchFolder& src) {
  WriteFileBytes(src / "a.txt", "alpha");
  WriteFileBytes(src / "b.doc", "bravo");
  WriteFileBytes(src / "hidden.txt", "secret");
  SetFileAttributesA((src / "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  WriteFileBytes(src / "locked.txt", "read only");
  SetFileAttributesA((src / "locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryA((src / "empty").c_str(), nullptr);
  CreateDirectoryA((src / "x.txt").c_str(), nullptr);
  WriteFileBytes(src / "x.txt\\inner.txt", "inner");
  CreateDirectoryPath((src / "deep\\deeper").c_str());
  WriteFileBytes(src / "deep\\deeper\\c.txt", "charlie");
  WriteFileBytes(src / "deep\\d.doc", "delta");
}

int Copy(const std::string& pattern, const std::string& destination, int recurse, DWORD* code = nullptr,
         CopyReport* report = nullptr) {
  CopyReport own;
  const int result = CopyFiles(pattern.c_str(), destination.c_str(), recurse, report ? report : &own);
  if (code) *code = GetLastError();
  return result;
}

}  // namespace

TEST_CASE("F copies the matching files of one folder") {
  ScratchFolder src("src"), dst("dst");
  MakeSource(src);
  CHECK(Copy(src / "*.txt", dst / "0\\", 0) == 0);
  CHECK(ListTree(dst / "0\\") == Names{"a.txt", "hidden.txt", "locked.txt"});
  CHECK(ReadFileBytes(dst / "0\\a.txt") == "alpha");

  SUBCASE("a second copy overwrites, read-only copies included") {
    WriteFileBytes(src / "a.txt", "changed");
    SetFileAttributesA((src / "locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteFileBytes(src / "locked.txt", "changed too");
    SetFileAttributesA((src / "locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    CHECK(Copy(src / "*.txt", dst / "0", 0) == 0);
    CHECK(ReadFileBytes(dst / "0\\a.txt") == "changed");
    CHECK(ReadFileBytes(dst / "0\\locked.txt") == "changed too");
  }
}

TEST_CASE("S copies the whole tree, empty folders included, entering only the folders that match") {
  ScratchFolder src("src"), dst("dst");
  MakeSource(src);
  CHECK(Copy(src / "*.*", dst / "1\\", 1) == 0);
  CHECK(ListTree(dst / "1\\") == ListTree(src.path()));
  CHECK(ReadFileBytes(dst / "1\\deep\\deeper\\c.txt") == "charlie");
  CreateDirectoryA((src / "nothing.doc").c_str(), nullptr);
  CHECK(Copy(src / "*.doc", dst / "2\\", 1) == 0);
  // "deep" does not match "*.doc"; "nothing.doc" matches and is made though empty.
  CHECK(ListTree(dst / "2\\") == Names{"b.doc", "nothing.doc\\"});
}

TEST_CASE("patterns that find nothing copy nothing and succeed") {
  ScratchFolder dst("dst");
  CHECK(Copy("C:\\no\\such\\folder\\*.*", dst / "3\\", 1) == 0);
  CHECK(IsDirectory(dst / "3"));
  CHECK(ListTree(dst / "3\\").empty());
}

TEST_CASE("relative patterns are taken from the current folder") {
  ScratchFolder work("work"), dst("dst");
  WriteFileBytes(work / "settings.ini", "[x]");
  CreateDirectoryA((work / "sub").c_str(), nullptr);
  WriteFileBytes(work / "sub\\inner.ini", "[y]");
  char previous[MAX_PATH];
  GetCurrentDirectoryA(sizeof previous, previous);
  REQUIRE(SetCurrentDirectoryA(work.path().c_str()));
  CHECK(Copy("*.ini", dst / "a\\", 0) == 0);
  CHECK(Copy("sub\\*.ini", dst / "b\\", 0) == 0);
  char during[MAX_PATH];
  GetCurrentDirectoryA(sizeof during, during);
  SetCurrentDirectoryA(previous);
  CHECK(std::string(during) + "\\" == work.path());
  CHECK(ListTree(dst / "a\\") == Names{"settings.ini"});
  CHECK(ListTree(dst / "b\\") == Names{"inner.ini"});
}

TEST_CASE("folder variables are expanded in the pattern") {
  ScratchFolder dst("dst");
  CHECK(Copy("%Windir%\\win.in?", dst / "w\\", 0) == 0);
  CHECK(ListTree(dst / "w\\") == Names{"win.ini"});
}

TEST_CASE("paths over 259 bytes fail cleanly") {
  ScratchFolder src("src"), dst("dst");
  WriteFileBytes(src / "f.txt", "x");
  DWORD code = 0;
  SUBCASE("a destination too long for the file name") {
    const std::string longDestination = dst.path() + std::string(255 - dst.path().size(), 'd') + "\\";
    CHECK(Copy(src / "*.txt", longDestination, 0, &code) == 1);
    CHECK(code == ERROR_FILENAME_EXCED_RANGE);
  }
  SUBCASE("a pattern whose expansion does not fit") {
    CHECK(Copy("%AppData%\\" + std::string(245, 'w') + "\\*", dst / "6\\", 0, &code) == 1);
    CHECK(code == ERROR_FILENAME_EXCED_RANGE);
  }
}

TEST_CASE("Shift-JIS names with a 0x5C trail byte" * doctest::skip(!JapaneseSystem())) {
  const std::string so = "\x83\x5c";  // "ソ"
  ScratchFolder src("src"), dst("dst");
  CreateDirectoryA((src / (so + "\\")).c_str(), nullptr);
  WriteFileBytes(src / (so + "\\" + so + ".txt"), "katakana");
  CHECK(Copy(src / (so + "\\*.*"), dst / "7\\", 1) == 0);
  CHECK(ListTree(dst / "7\\") == Names{so + ".txt"});
  CHECK(ReadFileBytes(dst / ("7\\" + so + ".txt")) == "katakana");
}

TEST_CASE("a folder link back up the tree is not followed") {
  // Made by the test command: loop\a\f.txt and loop\a\back, a link to loop.
  ScratchFolder dst("dst");
  CHECK(Copy(GivenFolder("ARK_LOOP_FOLDER") + "*.*", dst / "8\\", 1) == 0);
  CHECK(ListTree(dst / "8\\") == Names{"a\\", "a\\f.txt"});
}

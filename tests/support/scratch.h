// Scratch folders, files and registry keys made for one test and removed
// after it, and commands run to their end: plain platform calls, shared by
// the tests inside the program and the end-to-end driver outside it.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include <doctest.h>

// Lists of texts print whole when a check fails.
namespace doctest {
template <>
struct StringMaker<std::vector<std::string>> {
  static String convert(const std::vector<std::string>& texts) {
    std::string joined = "{";
    for (const std::string& t : texts) joined += (joined.size() > 1 ? ", \"" : "\"") + t + "\"";
    return (joined + "}").c_str();
  }
};
}  // namespace doctest

// A fresh folder under the temporary folder, removed with all it holds.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* name = "ark");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }  // ends in "\\"
  std::string operator/(const std::string& relative) const { return path_ + relative; }

 private:
  std::string path_;
};

void RemoveTree(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);  // empty when missing
bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);
// Names below a folder, sorted, with "\\" after folders, e.g. "a\\", "a\\b.txt".
std::vector<std::string> ListTree(const std::string& folder);
// The same by wide names, for names the code page cannot spell.
std::vector<std::wstring> ListTreeWide(const std::wstring& folder);
std::string ReadFileWide(const std::wstring& path);

// A key under HKEY_CURRENT_USER\Software\ArkivantoTests, deleted with its
// sub-tree before and after the test.
class TestKey {
 public:
  explicit TestKey(const std::string& name);
  ~TestKey();
  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;
  const std::string& path() const { return path_; }        // "HKEY_CURRENT_USER\\Software\\..."
  const std::string& subPath() const { return subPath_; }  // below HKEY_CURRENT_USER

 private:
  std::string subPath_, path_;
};

void SetValue(HKEY root, const std::string& key, const std::string& name, DWORD type, const std::string& data);
void SetString(HKEY root, const std::string& key, const std::string& name, const std::string& text);
void SetDword(HKEY root, const std::string& key, const std::string& name, DWORD value);
void CreateKey(HKEY root, const std::string& key);
void DeleteKeyTree(HKEY root, const std::string& key);

struct RegValue {
  std::string name;
  DWORD type;
  std::string data;
  bool operator==(const RegValue&) const = default;
};
// Every value of a key and of its sub-keys, keyed by relative key path;
// names in UTF-8.
struct RegSnapshot {
  std::vector<std::pair<std::string, std::vector<RegValue>>> keys;
  bool operator==(const RegSnapshot&) const = default;
};
RegSnapshot SnapshotKey(HKEY root, const std::string& key);

// Starts a command line with no window; the caller owns the process handle
// (null when it could not start).
HANDLE StartProcess(const std::string& commandLine, const std::string& workingDirectory = "");
// Runs a command line, waits for it (bounded) and returns its exit code, or -1.
int RunAndWait(const std::string& commandLine, const std::string& workingDirectory = "", DWORD timeoutMs = 120000);

bool JapaneseSystem();  // the active code page is Shift-JIS

// Text in the system code page, in UTF-16 and in UTF-8 (as reports print it),
// and in the console's code page (as cmd reads batch files).
std::string Ansi(const std::wstring& text);
std::string Oem(const std::wstring& text);
std::wstring Wide(const std::string& text);
std::string Utf8(const std::wstring& text);
void WriteFileWide(const std::wstring& path, const std::string& bytes, DWORD attributes = FILE_ATTRIBUTE_NORMAL);

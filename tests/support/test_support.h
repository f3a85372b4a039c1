// Shared pieces of the tests: a scripted person, scratch folders, files and
// registry keys made for one test and removed after it.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/interaction.h"

struct ShownMessage {
  std::string text, caption;
  UINT type;
};

// Answers message boxes from a script and records every one shown; the Esc
// and Shift keys and the clock are set by the test.
class ScriptedPerson final : public Person {
 public:
  ScriptedPerson() { previous_ = SetPerson(this); }
  ~ScriptedPerson() override { SetPerson(previous_); }
  ScriptedPerson(const ScriptedPerson&) = delete;
  ScriptedPerson& operator=(const ScriptedPerson&) = delete;

  int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) override;
  SHORT KeyState(int virtualKey) override;
  void Now(SYSTEMTIME* time) override { *time = now; }
  bool BrowseForFolder(HWND owner, const char* title, char* path) override;
  bool GetSaveFileName(OPENFILENAMEA* dialog) override;

  std::vector<ShownMessage> shown;
  std::deque<int> answers;  // taken in order; IDOK / IDNO once they run out
  std::vector<int> keysDown;
  std::function<SHORT(int)> keys;  // when set, answers the key state instead of keysDown
  SYSTEMTIME now = {2004, 1, 6, 31, 13, 5, 9, 42};
  // Folder browser and save dialog: the titles shown, and the answer (empty
  // for Cancel).
  std::vector<std::string> dialogTitles;
  std::string folderAnswer, saveAnswer;

 private:
  Person* previous_ = nullptr;
};

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

// A key under HKEY_CURRENT_USER\Software\ArkivantoTests, deleted with its
// sub-tree before and after the test.
class TestKey {
 public:
  explicit TestKey(const std::string& name);
  ~TestKey();
  TestKey(const TestKey&) = delete;
  TestKey& operator=(const TestKey&) = delete;
  const std::string& path() const { return path_; }  // "HKEY_CURRENT_USER\\Software\\..."
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
// Every value of a key and of its sub-keys, keyed by relative key path.
struct RegSnapshot {
  std::vector<std::pair<std::string, std::vector<RegValue>>> keys;
  bool operator==(const RegSnapshot&) const = default;
};
RegSnapshot SnapshotKey(HKEY root, const std::string& key);
std::string Describe(const RegSnapshot& snapshot);

// Runs a command line, waits for it (bounded) and returns its exit code, or -1.
int RunAndWait(const std::string& commandLine, const std::string& workingDirectory = "", DWORD timeoutMs = 120000);

// The main window made as the program makes it, in a program folder of the
// test's own, with the given template files in its "template" folder.
class MainWindowFixture {
 public:
  MainWindowFixture();
  ~MainWindowFixture();
  MainWindowFixture(const MainWindowFixture&) = delete;
  MainWindowFixture& operator=(const MainWindowFixture&) = delete;
  void AddTemplate(const std::string& fileName, const std::string& content);
  void Reload();
  HWND window() const;
  void Command(int id);
  bool Pressed(int id) const;
  void SetPressed(int id, bool pressed);
  void SetDestination(const std::string& text);
  std::string StatusText() const;
  ScratchFolder program{"program"};
  std::string templateFolder;
};

bool JapaneseSystem();  // the active code page is Shift-JIS
std::string TextOf(int messageId);
// The platform's own text for an error code.
std::string SystemText(DWORD code);

// Taking settings to another PC: templates that would mix their copies are
// refused, a portable Restore.bat puts files into the folders of whoever
// runs it, and a ZIP backup holds everything and restores once extracted.
#include <doctest.h>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/handles.h"
#include "core/paths.h"
#include "resource.h"
#include "support/test_support.h"
#include "ui/main_window_state.h"

namespace {

std::string ShellFolder(const char* variable) {
  char value[MAX_PATH] = {};
  GetEnvironmentVariableA(variable, value, sizeof value);
  return value;
}

}  // namespace

TEST_CASE("two checked templates with one folder line are refused before anything is written") {
  LoggedBackup backup;
  backup.main.AddTemplate("a.txt", "First\r\n\r\nMail\r\n");
  backup.main.AddTemplate("b.txt", "Second\r\n\r\nmail\\\r\n");
  backup.main.AddTemplate("c.txt", "Third\r\n\r\nOther\r\n");
  CHECK_FALSE(backup.Run());
  REQUIRE(backup.person.shown.size() == 1);
  CHECK(backup.person.shown[0].text.find("First") != std::string::npos);
  CHECK(backup.person.shown[0].text.find("Second") != std::string::npos);
  CHECK_FALSE(FileExists(backup.destination));
}

TEST_CASE("a portable Restore.bat puts every file into the folders of whoever runs it") {
  // Folders below the user's own: the profile, its roaming and local data.
  const std::vector<std::pair<std::string, std::string>> places = {
      {"APPDATA", "%AppData%"}, {"LOCALAPPDATA", "%LocalAppData%"}, {"USERPROFILE", "%Documents%"}};
  std::string content = "Portable\r\n\r\nPortable\r\n";
  std::vector<std::string> folders;
  for (const auto& [variable, templateVariable] : places) {
    const std::string folder =
        (variable == "USERPROFILE" ? ShellFolder("USERPROFILE") + "\\Documents" : ShellFolder(variable.c_str())) +
        "\\ArkivantoPortable\\";
    CreateDirectoryPath(folder.c_str());
    WriteFileBytes(folder + "settings.ini", variable);
    folders.push_back(folder);
    content += "F:" + templateVariable + "\\ArkivantoPortable\\*.ini\r\n";
  }
  LoggedBackup backup;
  backup.main.AddTemplate("p.txt", content);
  backup.main.SetPressed(IDM_PORTABLE_RESTORE, true);
  REQUIRE(backup.Run());
  for (const std::string& folder : folders) RemoveTree(folder);
  const std::string script = ReadFileBytes(backup.destination + "Restore.bat");
  CHECK(script.find("\"%APPDATA%\\ArkivantoPortable\\\"") != std::string::npos);
  CHECK(script.find("\"%LOCALAPPDATA%\\ArkivantoPortable\\\"") != std::string::npos);
  CHECK(script.find("\"%USERPROFILE%\\Documents\\ArkivantoPortable\\\"") != std::string::npos);

  // Another user on another PC: every folder somewhere else.
  ScratchFolder other("otheruser");
  const std::vector<std::pair<std::string, std::string>> elsewhere = {
      {"APPDATA", other / "Roaming"}, {"LOCALAPPDATA", other / "Local"}, {"USERPROFILE", other / "Profile"}};
  const std::string saved[] = {ShellFolder("APPDATA"), ShellFolder("LOCALAPPDATA"), ShellFolder("USERPROFILE")};
  for (const auto& [name, value] : elsewhere) SetEnvironmentVariableA(name.c_str(), value.c_str());
  CHECK(RunAndWait("cmd /c Restore.bat", backup.destination) == 0);
  for (size_t i = 0; i < elsewhere.size(); ++i) SetEnvironmentVariableA(elsewhere[i].first.c_str(), saved[i].c_str());
  CHECK(ReadFileBytes(other / "Roaming\\ArkivantoPortable\\settings.ini") == "APPDATA");
  CHECK(ReadFileBytes(other / "Local\\ArkivantoPortable\\settings.ini") == "LOCALAPPDATA");
  CHECK(ReadFileBytes(other / "Profile\\Documents\\ArkivantoPortable\\settings.ini") == "USERPROFILE");
  for (const std::string& folder : folders) CHECK_FALSE(IsDirectory(folder));
}

// A ZIP backup, in three tests that share a folder (ARK_ZIP_FOLDER): this
// program makes it, unzip and Python's zipfile check and extract it, and
// this program restores from the extracted folder.
TEST_SUITE("zip backup") {
  TEST_CASE("made") {
    const std::string folder = GivenFolder("ARK_ZIP_FOLDER");
    RemoveTree(folder);
    CreateDirectoryPath((folder + "data\\sub").c_str());
    WriteFileBytes(folder + "data\\a.ini", "alpha");
    WriteFileBytes(folder + "data\\sub\\b.ini", "bravo");
    LoggedBackup backup;
    backup.destination = folder + "backup.zip";
    backup.main.AddTemplate("z.txt", "Zipped\r\n\r\nZipped\r\nS:" + folder + "data\\*.*\r\n");
    backup.main.SetPressed(IDM_COMPRESS, true);
    SendMessageA(MainState().compressionCombo, CB_SETCURSEL, 1, 0);  // ZIP
    REQUIRE(backup.Run());
    CHECK(FileExists(folder + "backup.zip"));
    CHECK_FALSE(FileExists(folder + "backup.zip.files"));
    RemoveTree(folder + "data");
  }

  TEST_CASE("restored") {
    const std::string folder = GivenFolder("ARK_ZIP_FOLDER");
    REQUIRE(FileExists(folder + "extracted\\Restore.bat"));
    CHECK(RunAndWait("cmd /c Restore.bat", folder + "extracted\\") == 0);
    CHECK(ReadFileBytes(folder + "data\\a.ini") == "alpha");
    CHECK(ReadFileBytes(folder + "data\\sub\\b.ini") == "bravo");
  }
}

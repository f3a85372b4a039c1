#include <doctest.h>

#include <windows.h>

#include <string>

#include "backup/template_interpreter.h"
#include "core/fixed_texts.h"
#include "core/handles.h"
#include "core/messages.h"
#include "support/test_support.h"

namespace {

// One template backed up into a fresh destination.
struct Backup {
  ScratchFolder templates{"tpl"};
  ScratchFolder destination{"dst"};
  ScriptedPerson person;
  TextBuffer script, errors;
  int result = -1;

  Backup() {
    TextBufferInit(&script);
    TextBufferInit(&errors);
  }

  void Run(const std::string& content, int verbose = 0, const std::string& into = "") {
    WriteFileBytes(templates / "t.txt", content);
    RunFile(templates / "t.txt", verbose, into);
  }
  void RunFile(const std::string& path, int verbose = 0, const std::string& into = "") {
    const std::string where = into.empty() ? destination.path() : into;
    TemplateOptions options;
    options.verbose = verbose;
    result = BackupTemplate(path.c_str(), where.c_str(), &script, &errors, options);
  }
  std::string Script() const { return script.text; }
  std::string Errors() const { return errors.text; }
};

}  // namespace

TEST_CASE("entries are numbered by line and dispatched by their letter") {
  Backup b;
  ScratchFolder data("data");
  WriteFileBytes(data / "a.txt", "alpha");
  WriteFileBytes(data / "b.doc", "bravo");
  TestKey key("InterpreterMail");
  SetString(HKEY_CURRENT_USER, key.subPath(), "Box", "inbox");
  b.Run(
      "Mailer\r\nMail settings\r\nMail\r\n"
      "F:" +
      data.path() +
      "*.txt\r\n"        // 0
      "\r\n"             // 1: blank, still numbered
      "; a comment\r\n"  // 2
      "R:" +
      "HKCU\\" + key.subPath() +
      "\r\n"                // 3
      "I:win.ini\r\n"       // 4: not supported, not failed
      "?:never set\r\n"     // 5
      "f:small letter\r\n"  // 6
      "S:" +
      data.path() + "*.*");  // 7: no line end, not processed
  CHECK(b.result == 1);
  CHECK(b.Script() == "ECHO Restoreing: Mailer\r\n" + FileRestoreLines("Mail\\0", data.path()) +
                          RegistryRestoreLines("Mail\\3.reg") + "\r\n");
  CHECK(b.Errors() == TextOf(IDS_UNKNOWN_COMMAND, '?') + "\r\n" + TextOf(IDS_UNKNOWN_COMMAND, 'f') + "\r\n");
  CHECK(ListTree(b.destination / "Mail\\") == std::vector<std::string>{"0\\", "0\\a.txt", "3.reg"});
  CHECK(ReadFileBytes(b.destination / "Mail\\3.reg").find("\"Box\"=\"inbox\"") != std::string::npos);
  // The INI notice shows whether verbose or not; nothing else is shown.
  CHECK(b.person.shown == std::vector<ShownMessage>{{kIniNotSupported, TextOf(IDS_CAPTION_ERROR), MB_ICONERROR}});
}

TEST_CASE("failed entries leave error lines and, when verbose, a message each") {
  Backup b;
  ScratchFolder data("data");
  WriteFileBytes(data / "held.txt", "x");
  FileHandle held(CreateFileA((data / "held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  const std::string fileArgument = data.path() + "*.txt";
  const std::string keyArgument = "HKCU\\Software\\ArkivantoTests\\Missing";
  b.Run("T\r\n\r\nT\r\nF:" + fileArgument + "\r\nR:" + keyArgument + "\r\nR:HKCU\r\n", 1);
  CHECK(b.result == 1);
  // What could be copied is restored; the file that could not is named.
  CHECK(b.Script() == "ECHO Restoreing: T\r\n" + FileRestoreLines("T\\0", data.path()) + "\r\n");
  const std::string fileLine = TextOf(IDS_FILE_BACKUP_FAILED) + ": " + fileArgument + ": " + data.path() +
                               "held.txt: " + SystemText(32) + "\r\n";
  CHECK(b.Errors() == fileLine + TextOf(IDS_REGISTRY_BACKUP_FAILED) + ": " + keyArgument + ": (2)" + SystemText(2) +
                          "\r\n" + TextOf(IDS_REGISTRY_BACKUP_FAILED) + ": HKCU: (" +
                          std::to_string(ERROR_INVALID_NAME) + ")" + SystemText(ERROR_INVALID_NAME) + "\r\n");
  REQUIRE(b.person.shown.size() == 3);
  CHECK(b.person.shown[0] == ShownMessage{fileLine, TextOf(IDS_FILE_BACKUP_FAILED), MB_ICONERROR});
}

TEST_CASE("a template that cannot be opened adds nothing") {
  Backup b;
  const std::string missing = b.templates / "missing.txt";
  b.RunFile(missing, 1);
  CHECK(b.result == 1);
  CHECK(b.Script().empty());
  REQUIRE(b.person.shown.size() == 1);
  CHECK(b.person.shown[0].text == TextOf(IDS_CANT_OPEN_TEMPLATE_SKIP, missing.c_str()));
  // The error line is the message's first line and the system's reason.
  CHECK(b.Errors() ==
        FirstLineOf(IDS_CANT_OPEN_TEMPLATE_SKIP, missing.c_str()) + " " + SystemReason(ERROR_FILE_NOT_FOUND) + "\r\n");
  b.RunFile(missing, 0);
  CHECK(b.person.shown.size() == 1);
}

TEST_CASE("directory lines that leave the destination are refused") {
  for (const char* directory :
       {"C:\\Windows", "C:", "\\Temp", "\\\\server\\share", "..", "a\\..\\..\\b", "a/../b", "...", ". .", "x:y",
        "x\" & calc & \"", "a|b", "a\tb", "\xe9%x", "a<b", "a>b", "a?b", "a*b",
        "a\x01"
        "b"}) {
    CAPTURE(directory);
    Backup b;
    ScratchFolder data("data");
    WriteFileBytes(data / "a.txt", "a");
    b.Run(std::string("Evil\r\n\r\n") + directory + "\r\nF:" + data.path() + "*.txt\r\n");
    CHECK(b.result == 1);
    CHECK(b.Script().empty());
    CHECK(b.Errors() == FirstLineOf(IDS_UNSAFE_DIRECTORY, directory) + "\r\n");
    CHECK(ListTree(b.destination.path()).empty());
  }
  SUBCASE("nested folders and an empty line stay allowed") {
    Backup b;
    b.Run("Nested\r\n\r\nApps\\Mail.v2\r\n");
    CHECK(b.result == 0);
    CHECK(IsDirectory(b.destination / "Apps\\Mail.v2"));
    Backup e;
    TestKey key("Flat");  // the tests' whole key changes under the tests run beside
    e.Run("Flat\r\n\r\n\r\nR:HKCU\\" + key.subPath() + "\r\n");
    CHECK(e.Script() == "ECHO Restoreing: Flat\r\n" + RegistryRestoreLines("0.reg") + "\r\n");
    CHECK(FileExists(e.destination / "0.reg"));
  }
}

TEST_CASE("bad input fails cleanly and loses nothing else") {
  Backup b;
  SUBCASE("a line of 100 KB") {
    const std::string argument = "C:\\" + std::string(100000, 'x') + "\\*.*";
    b.Run("Long\r\n\r\nLong\r\nF:" + argument + "\r\nR:" + std::string(100000, 'k') + "\r\n");
    CHECK(b.result == 1);
    CHECK(b.Errors() == TextOf(IDS_FILE_BACKUP_FAILED) + ": " + argument + ": " + SystemText(206) + "\r\n" +
                            TextOf(IDS_REGISTRY_BACKUP_FAILED) + ": " + std::string(100000, 'k') + ": (206)" +
                            SystemText(206) + "\r\n");
  }
  SUBCASE("a NUL byte refuses the file instead of hiding the entries after it") {
    const std::string path = b.templates / "t.txt";
    b.Run(std::string("Nul\r\n\r\nNul\r\nI:x\0\r\nR:HKCU\\Software\r\n", 28));
    CHECK(b.result == 1);
    CHECK(b.Script().empty());
    CHECK(b.Errors() == FirstLineOf(IDS_CANT_READ_TEMPLATE_SKIP, path.c_str()) + "\r\n");
  }
  SUBCASE("a destination that leaves no room for the entry folders") {
    ScratchFolder data("data");
    WriteFileBytes(data / "a.txt", "a");
    const std::string into = b.destination.path() + std::string(250 - b.destination.path().size(), 'd') + "\\";
    b.Run("Deep\r\n\r\nDeep\r\nF:" + data.path() + "*.txt\r\n", 0, into);
    CHECK(b.result == 1);
    CHECK(b.Errors() == TextOf(IDS_FILE_BACKUP_FAILED) + ": " + data.path() + "*.txt: " + SystemText(206) + "\r\n");
  }
  SUBCASE("a folder that Restore.bat could not name fails its entry") {
    // "\x80" is the euro sign, which cmd's code page beside 1252 (437) lacks.
    if (GetACP() == GetOEMCP()) return;
    ScratchFolder data("data");
    WriteFileWide(Wide(data / "\x80.txt"), "a");
    const std::string euro = data / "\x80\\*.txt", plain = data / "*.txt";
    b.Run("Euro\r\n\r\nEuro\r\nF:" + euro + "\r\nF:" + plain + "\r\n");
    CHECK(b.result == 1);
    CHECK(b.Script() == "ECHO Restoreing: Euro\r\n" + FileRestoreLines("Euro\\1", data.path()) + "\r\n");
    CHECK(b.Errors() == TextOf(IDS_FILE_BACKUP_FAILED) + ": " + euro + ": " + SystemText(1113) + "\r\n");
    Backup d;
    d.Run("Euro\r\n\r\n\x80\r\nF:" + plain + "\r\n");
    CHECK(d.Errors() == TextOf(IDS_FILE_BACKUP_FAILED) + ": " + plain + ": " + SystemText(1113) + "\r\n");
    CHECK(d.Script() == "ECHO Restoreing: Euro\r\n\r\n");
  }
}

TEST_CASE("Shift-JIS directory and names with 0x5C trail bytes" * doctest::skip(!JapaneseSystem())) {
  const std::string hyo = "\x95\x5c";  // "表"
  Backup b;
  ScratchFolder data("data");
  CreateDirectoryA((data / hyo).c_str(), nullptr);
  WriteFileBytes(data / (hyo + "\\" + hyo + ".txt"), "x");
  const std::string source = data / (hyo + "\\");
  b.Run(hyo + "\r\n" + hyo + "\r\n" + hyo + "\r\nS:" + source + "*.*\r\n");
  CHECK(b.result == 0);
  // A name beyond ASCII is echoed inside quotes, whatever code page reads it.
  CHECK(b.Script() == "ECHO Restoreing: \"" + hyo + "\r\n" + FileRestoreLines(hyo + "\\0", source) + "\r\n");
  CHECK(ListTree(b.destination / (hyo + "\\0\\")) == std::vector<std::string>{hyo + ".txt"});
}

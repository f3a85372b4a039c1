#include <doctest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/messages.h"
#include "operations/expansion.h"
#include "support/test_support.h"

namespace {

std::string Expand(const std::string& text, int* result = nullptr) {
  char buffer[kPathSize] = {};
  REQUIRE(text.size() < sizeof buffer);
  memcpy(buffer, text.data(), text.size());
  const int r = ExpandVariables(buffer);
  if (result) *result = r;
  return buffer;
}

std::string RootName(const std::string& text, int* result) {
  char buffer[kPathSize] = {};
  memcpy(buffer, text.data(), text.size());
  *result = ExpandRootName(buffer, sizeof buffer);
  return buffer;
}

}  // namespace

TEST_CASE("folder variables come from the shell's special folders, in any case") {
  ScriptedPerson person;
  CHECK(Expand("%windir%\\system") == "C:\\windows\\system");
  CHECK(Expand("%WINDIR%") == Expand("%SystemRoot%"));
  CHECK(Expand("%AppData%\\Mailer") == "C:\\users\\root\\AppData\\Roaming\\Mailer");
  CHECK(Expand("%ProgramFiles%") == "C:\\Program Files");
  CHECK(Expand("%ProgramFilesCommon%") == "C:\\Program Files\\Common Files");
  CHECK(Expand("%AllUsersAppData%") == "C:\\ProgramData");
  CHECK(Expand("%HomePath%") == "C:\\users\\root");
  CHECK(Expand("%UserProfile%") == "C:\\users\\root");
  CHECK(person.shown.empty());
}

TEST_CASE("percent signs that are no variables") {
  ScriptedPerson person;
  CHECK(Expand("100%%") == "100%");
  CHECK(Expand("abc%def") == "abc%def");
  CHECK(Expand("plain text, no percent") == "plain text, no percent");
  CHECK(Expand("%%%windir%") == "%C:\\windows");
  // What a variable brings in is not scanned again.
  TestKey key("Percent");
  SetString(HKEY_CURRENT_USER, key.subPath(), "v", "50%windir%");
  CHECK(Expand("%" + key.path() + "\\v%") == "50%windir%");
  CHECK(person.shown.empty());
}

TEST_CASE("registry references read string values") {
  ScriptedPerson person;
  TestKey key("Ref");
  SetString(HKEY_CURRENT_USER, key.subPath(), "", "default text");
  SetString(HKEY_CURRENT_USER, key.subPath(), "Dir", "D:\\Data");
  SetValue(HKEY_CURRENT_USER, key.subPath(), "Expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\x") + '\0');
  const std::string shortPath = "HKCU\\" + key.subPath();
  CHECK(Expand("%" + shortPath + "\\Dir%\\sub") == "D:\\Data\\sub");
  CHECK(Expand("%hkey_current_user\\" + key.subPath() + "\\Dir%") == "D:\\Data");
  CHECK(Expand("%" + shortPath + "\\%") == "default text");
  CHECK(Expand("%" + shortPath + "\\Expand%") == "%SystemRoot%\\x");
  SetString(HKEY_USERS, ".DEFAULT\\Software\\A", "B", "users value");
  CHECK(Expand("%HKEY_USERS\\.DEFAULT\\Software\\A\\B%") == "users value");
  DeleteKeyTree(HKEY_USERS, ".DEFAULT\\Software\\A");
  // A value directly under a root is read from the root.
  SetString(HKEY_CURRENT_USER, "", "ArkivantoRootValue", "at the root");
  CHECK(Expand("%HKCU\\ArkivantoRootValue%") == "at the root");
  RegDeleteKeyValueA(HKEY_CURRENT_USER, nullptr, "ArkivantoRootValue");
  CHECK(person.shown.empty());
}

// A name that brings nothing in would leave a path meaning another folder
// ("%Foo%\\*.*" is the whole drive): the expansion fails and leaves the text.
TEST_CASE("names that bring nothing in fail the expansion; failing references say why") {
  ScriptedPerson person;
  TestKey key("Bad");
  SetDword(HKEY_CURRENT_USER, key.subPath(), "Number", 7);
  for (const std::string& text : std::vector<std::string>{
           "a%HKCU\\Software\\ArkivantoTests\\Missing\\Value%b", "a%HKCU\\" + key.subPath() + "\\NoValue%b",
           "a%HKCU\\" + key.subPath() + "\\Number%b", std::string("a%HKXY\\Software\\Value%b"),
           std::string("%Foo%\\*.*"), std::string("%HKCU%"), std::string("%HKU\\.DEFAULT\\Software\\A\\B%")}) {
    CAPTURE(text);
    int result = -1;
    CHECK(Expand(text, &result) == text);
    CHECK(result == 0);
    CHECK(GetLastError() == ERROR_ENVVAR_NOT_FOUND);
  }
  REQUIRE(person.shown.size() == 4);
  CHECK(person.shown[0] == ShownMessage{"Value", TextOf(IDS_CANT_OPEN_KEY_SKIP), MB_ICONERROR});
  CHECK(person.shown[1] == ShownMessage{"NoValue", TextOf(IDS_CANT_READ_VALUE_SKIP), MB_ICONERROR});
  CHECK(person.shown[2] == ShownMessage{"Number", TextOf(IDS_NOT_A_STRING_SKIP), MB_ICONERROR});
  CHECK(person.shown[3].caption == TextOf(IDS_CANT_OPEN_KEY_SKIP));
}

TEST_CASE("root names, by short or full name in any case, are written out") {
  struct Case {
    const char *text, *expanded;
  };
  for (const Case& c : {Case{"hkcu\\Software\\X", "HKEY_CURRENT_USER\\Software\\X"},
                        Case{"hkey_users\\.DEFAULT", "HKEY_USERS\\.DEFAULT"}, Case{"hku\\x", "HKEY_USERS\\x"},
                        Case{"HKCR\\.txt", "HKEY_CLASSES_ROOT\\.txt"}, Case{"hklm\\", "HKEY_LOCAL_MACHINE\\"},
                        // No separator, or roots outside the table: refused, not cut off.
                        Case{"HKCU", nullptr}, Case{"HKCC\\Software", nullptr}, Case{"HKEY_CURRENT_CONFIG\\x", nullptr},
                        Case{"HKCUX\\x", nullptr}, Case{"HKCU/x\\y", nullptr}}) {
    CAPTURE(c.text);
    int result = -1;
    CHECK(RootName(c.text, &result) == std::string(c.expanded ? c.expanded : c.text));
    CHECK(result == (c.expanded ? 1 : 0));
  }
  char tight[12] = "hkcu\\abc";
  CHECK(ExpandRootName(tight, sizeof tight) == 0);
  CHECK(std::string(tight) == "hkcu\\abc");
}

TEST_CASE("Shift-JIS trail bytes are no percent signs or separators" * doctest::skip(!JapaneseSystem())) {
  ScriptedPerson person;
  const std::string hyo = "\x95\x5c";      // "表", trail byte "\\"
  const std::string percent = "\x81\x93";  // "％" is 0x81 0x93; "ｰ" etc. are single bytes
  CHECK(Expand("%windir%\\" + hyo) == "C:\\windows\\" + hyo);
  TestKey key(hyo);
  SetString(HKEY_CURRENT_USER, key.subPath(), hyo, hyo + "\\" + hyo);
  CHECK(Expand("%HKCU\\" + key.subPath() + "\\" + hyo + "%") == hyo + "\\" + hyo);
  CHECK(Expand(percent + "%%") == percent + "%");
  CHECK(person.shown.empty());
}

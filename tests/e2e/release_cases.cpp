// The release archive as a person gets it: unpacked into a fresh folder (by
// CTest, with unzip, from an archive that scripts/package.sh packed) and the
// program started from there.
#include <doctest.h>

#include <windows.h>

#include <cstdlib>

#include "e2e/driver.h"
#include "resource.h"

TEST_CASE("release archive unpacked and started") {
  const char* folder = getenv("ARK_RELEASE_FOLDER");
  const char* templates = getenv("ARK_RELEASE_TEMPLATES");
  REQUIRE_MESSAGE((folder && templates), "run through CTest, which packs and unpacks the release");
  std::string installed = folder;
  if (installed.back() != '\\') installed += '\\';
  CHECK(FileExists(installed + "README.txt"));

  Program program({.installed = installed});
  HWND list = GetDlgItem(program.main(), IDC_TEMPLATE_LIST);
  const int expected = atoi(templates);
  REQUIRE(expected > 0);
  program.Await("the " + std::string(templates) + " example templates in the list",
                [&] { return program.ItemCount(list) == expected; });
  CHECK(program.Close() == 0);
}

// A backup folder packed into one ZIP archive. The archive of the first case
// is checked from outside wine by unzip and Python's zipfile
// (zip_archive_check.py): names, sizes, CRCs, times and attributes against
// the tree as Linux sees it.
#include <doctest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "core/handles.h"
#include "operations/zip_archive.h"
#include "support/test_support.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Each level in turn: wine's SHCreateDirectoryExW goes through the ANSI code page.
void MakeFolders(const std::wstring& path) {
  for (size_t end = path.find(L'\\', 3); end != std::wstring::npos; end = path.find(L'\\', end + 1))
    CreateDirectoryW(path.substr(0, end).c_str(), nullptr);
  CreateDirectoryW(path.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  REQUIRE((attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)));
}

// A few MB: half noise deflate cannot shrink, half text it can, so the
// stream spans several read blocks both ways.
std::string LargeContent() {
  std::string bytes;
  uint32_t state = 12345;
  while (bytes.size() < 1600000) {
    state = state * 1664525 + 1013904223;
    bytes += char(state >> 24);
  }
  while (bytes.size() < 3300000) bytes += "settings line " + std::to_string(bytes.size()) + "\r\n";
  return bytes;
}

}  // namespace

TEST_CASE("a backup folder with awkward names packed for the outside check") {
  const std::wstring folder = Wide(GivenFolder("ARK_ZIP_FOLDER")), tree = folder + L"tree\\";
  const std::wstring archive = folder + L"backup.zip";
  // "表" is 0x95 0x5C in Shift-JIS: its trail byte is "\\". "Café" has no
  // Shift-JIS form, "표" none in code page 437: both go in UTF-8 under one
  // of the two code pages.
  MakeFolders(tree + L"表");
  MakeFolders(tree + L"표");
  MakeFolders(tree + L"nested\\deeper\\empty");
  WriteFileWide(tree + L"Café.txt", "au lait\r\n");
  std::string binary;
  for (int i = 0; i < 1024; ++i) binary += char(i * 7);
  WriteFileWide(tree + L"表\\data.bin", binary);
  WriteFileWide(tree + L"nested\\large.dat", LargeContent());
  WriteFileWide(tree + L"empty.txt", "");
  WriteFileWide(tree + L"readonly.txt", "kept", FILE_ATTRIBUTE_READONLY);
  WriteFileWide(tree + L"hidden.txt", "unseen", FILE_ATTRIBUTE_HIDDEN);
  WriteFileWide(archive, "an older file under the archive's name");

  CHECK(WriteZipArchive(tree.c_str(), archive.c_str()) == 0);
  CHECK_FALSE(Exists(archive + L".tmp"));
  WriteFileWide(folder + L"codepage.txt", std::to_string(GetOEMCP()));
}

TEST_CASE("a failed archive leaves nothing under its name and an earlier archive whole") {
  ScratchFolder scratch("zip");
  const std::wstring source = Wide(scratch / "source\\"), archive = Wide(scratch / "backup.zip");
  MakeFolders(source + L"sub");
  WriteFileWide(source + L"sub\\a.txt", "a");
  WriteFileWide(source + L"b.txt", "b");

  const auto fails = [](const std::wstring& from, const std::wstring& to) {
    const DWORD code = WriteZipArchive(from.c_str(), to.c_str());
    CHECK(code != 0);
    CHECK(GetLastError() == code);
    CHECK_FALSE(Exists(to + L".tmp"));
  };
  for (const std::string& nowhere :
       {scratch / "missing\\backup.zip", GivenFolder("ARK_READ_ONLY_DRIVE") + "backup.zip"}) {
    CAPTURE(nowhere);
    fails(source, Wide(nowhere));
    CHECK_FALSE(Exists(Wide(nowhere)));
  }

  REQUIRE(WriteZipArchive(source.c_str(), archive.c_str()) == 0);
  const std::string earlier = ReadFileBytes(scratch / "backup.zip");
  REQUIRE(earlier.size() > 100);
  fails(Wide(scratch / "no such folder"), archive);
  {
    // A file another program holds open without sharing: the walk stops there.
    FileHandle locked(
        CreateFileW((source + L"sub\\a.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    REQUIRE(locked);
    fails(source, archive);
  }
  CHECK(ReadFileBytes(scratch / "backup.zip") == earlier);
}

TEST_CASE("an archive written inside the folder it packs, and a folder link loop") {
  ScratchFolder scratch("zip");
  const std::wstring source = Wide(scratch.path()), inside = source + L"backup.zip";
  WriteFileWide(source + L"a.txt", "a");
  // Neither the archive being written nor the one it replaces goes in.
  REQUIRE(WriteZipArchive(source.c_str(), inside.c_str()) == 0);
  const size_t first = ReadFileBytes(scratch / "backup.zip").size();
  REQUIRE(WriteZipArchive(source.c_str(), inside.c_str()) == 0);
  CHECK(ReadFileBytes(scratch / "backup.zip").size() == first);

  // a\back leads to the loop folder itself: packed once, as an empty folder.
  REQUIRE(WriteZipArchive(Wide(GivenFolder("ARK_LOOP_FOLDER")).c_str(), inside.c_str()) == 0);
  CHECK(ReadFileBytes(scratch / "backup.zip").size() < 1000);
}

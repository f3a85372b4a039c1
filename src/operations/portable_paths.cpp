#include "operations/portable_paths.h"

#include <shlobj.h>

#include "operations/expansion.h"

namespace {

struct PortableFolder {
  const char* variable;
  int folderId;                // CSIDL_..., or -1
  const KNOWNFOLDERID* known;  // for a folder without an old-style id
};

// Only variables every Windows since Vista sets for every user: one that
// is not set would leave a path at the root of the drive. The same folder
// may lie in several (Documents in USERPROFILE): the deepest wins.
constexpr PortableFolder kFolders[] = {
    {"APPDATA", CSIDL_APPDATA, nullptr},
    {"LOCALAPPDATA", CSIDL_LOCAL_APPDATA, nullptr},
    {"USERPROFILE", CSIDL_PROFILE, nullptr},
    {"PUBLIC", -1, &FOLDERID_Public},
    {"ProgramData", CSIDL_COMMON_APPDATA, nullptr},
    {"ProgramFiles", CSIDL_PROGRAM_FILES, nullptr},
    {"SystemRoot", CSIDL_WINDOWS, nullptr},
};

bool FolderPath(const PortableFolder& folder, WidePath* out) {
  out->Clear();
  return AppendSpecialFolder(folder.folderId, out, folder.known) != 0;
}

}  // namespace

const char* PortableFolderOf(const wchar_t* path, size_t* covered) {
  const char* best = nullptr;
  *covered = 0;
  for (const PortableFolder& folder : kFolders) {
    WidePath root;
    if (!FolderPath(folder, &root) || root.length <= *covered) continue;
    if (wcslen(path) < root.length || (path[root.length] != L'\\' && path[root.length] != L'\0')) continue;
    if (CompareStringOrdinal(path, int(root.length), root.s, int(root.length), TRUE) != CSTR_EQUAL) continue;
    best = folder.variable;
    *covered = root.length;
  }
  return best;
}

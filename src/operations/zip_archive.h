// Packing a finished backup folder into one ZIP archive. Paths are wide:
// the names in a backup may be any Unicode text.
#pragma once

#include <windows.h>

// Packs every file and folder below folder, empty folders included, into a
// ZIP archive at zipPath, deflated. The archive is written as zipPath plus
// ".tmp" and moved over zipPath only once complete. Returns 0, or an error
// code (also the last error) with no temporary left and an earlier archive
// at zipPath untouched.
//
// Names are stored in the OEM code page, as Windows' own ZIP folders and
// most archivers read them, when every character survives the round trip;
// otherwise in UTF-8 with the language-encoding flag. Files and offsets past
// 4 GB and more than 65534 entries get ZIP64 records.
DWORD WriteZipArchive(const wchar_t* folder, const wchar_t* zipPath);

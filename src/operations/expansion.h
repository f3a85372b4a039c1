// Folder variables, registry references and short root names in template
// entries, turned into concrete paths and full key names.
#pragma once

#include "core/paths.h"
#include "core/wide_text.h"

// Rewrites every %name% in a buffer of kPathSize bytes. Returns 1; returns 0
// and leaves the text as it was when the result would not fit
// (ERROR_FILENAME_EXCED_RANGE), when a name brings nothing in: no known
// folder, a folder that cannot be resolved, a registry reference that cannot
// be read (ERROR_ENVVAR_NOT_FOUND), or when what it brings in cannot be
// spelled in the code page (ERROR_NO_UNICODE_TRANSLATION).
int ExpandVariables(char* text);
// Rewrites the root of a key path to its full name ("hkcu\X" becomes
// "HKEY_CURRENT_USER\X") in a buffer of `room` bytes. Returns 0 and leaves the
// text when it has no "\\", names no accepted root or would not fit.
int ExpandRootName(char* keyPath, size_t room);
// Expands text (in the code page) into the system's wide characters: folder
// variables by the shell's wide functions, registry references by the wide
// registry functions, so that a folder or value the code page cannot spell
// comes in whole. Returns 1, or 0 as ExpandVariables does.
int ExpandVariablesWide(const char* text, WidePath* out);
// Appends the path of a shell special folder, by its old-style id or, when
// folderId is -1, by its known-folder id; without the trailing "\\" of a
// drive root. Returns 0 when the folder cannot be resolved or does not fit.
int AppendSpecialFolder(int folderId, WidePath* out, const GUID* known = nullptr);
// Full name of an accepted root ("HKEY_CURRENT_USER" for "hkcu"), or null.
const char* FullRootName(const char* keyPath);

// Lines of the restore script that one template contributes.
//
// Template names and paths come from templates that users share, so the
// script must run nothing but its own commands, whatever code page cmd reads
// it in: a script written on a Japanese system may run on an English one.
// A byte of 0x80 or more may then start a double-byte character and swallow
// the byte after it, and a trail byte may stand alone as "|" or "^". So the
// text a template brings in is written inside quotes, where only '"', "%"
// and line ends mean anything to cmd, and a space separates such a byte from
// any quote or "%" of the script's own.
#pragma once

#include "core/memory.h"

void AppendRestoreEcho(TextBuffer* script, const char* templateName);
// The xcopy of entry n's saved folder back to targetFolder (expanded, ending
// in "\\"), and the lines that note its failure. With a variable (such as
// "APPDATA"), the target is that folder of the machine that runs the script
// followed by targetFolder, and the copy runs only where the variable is
// set. False, with nothing appended, when a path cannot be written into the
// script safely.
bool AppendFileRestoreLines(TextBuffer* script, const char* scriptDir, unsigned n, const char* targetFolder,
                            const char* variable = nullptr);
// The regedit import of entry n's saved file, and the lines that note its failure.
bool AppendRegistryRestoreLines(TextBuffer* script, const char* scriptDir, unsigned n);
// True when a path goes into the script inside quotes without changing its
// meaning in any code page: no '"', no control character, no "%" right after
// a byte of 0x80 or more.
bool FitsInQuotes(const char* path);

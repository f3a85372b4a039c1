// Lines of the restore script that one template contributes.
#pragma once

#include "core/memory.h"

void AppendRestoreEcho(TextBuffer* script, const char* templateName);
// xcopy of entry n's saved folder back to targetFolder (expanded, ending in "\\").
void AppendFileRestoreLine(TextBuffer* script, const char* scriptDir, unsigned n, const char* targetFolder);
// regedit import of entry n's saved file.
void AppendRegistryRestoreLine(TextBuffer* script, const char* scriptDir, unsigned n);

// Backing up one template into the destination.
#pragma once

#include "backup/backup_view.h"
#include "core/memory.h"

// Backs up the template file at templatePath into destination (ending in
// "\\"): appends its block to restoreScript and one line per failed entry to
// errorText; view (may be null) shows the template bar. written (may be
// null) receives a line for each copy put in place, relative to the
// destination ("Mail\\0\\" for a folder, "Mail\\3.reg" for a file). Returns 0
// when the file was read and no entry failed, else 1.
int BackupTemplate(const char* templatePath, const char* destination, TextBuffer* restoreScript,
                   TextBuffer* errorText, int verbose, int useRegedit, BackupView* view = nullptr,
                   TextBuffer* written = nullptr);

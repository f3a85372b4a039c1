// Backing up one template into the destination.
#pragma once

#include "backup/backup_view.h"
#include "backup/manifest.h"
#include "core/memory.h"
#include "operations/progress_window.h"

struct TemplateOptions {
  int verbose = 0;               // show a message box at every failure
  int useRegedit = 0;            // the registry editor writes the exports
  bool portableRestore = false;  // restore lines name special folders by their variables
  BackupView* view = nullptr;    // shows the template bar; may be null
  // Counts the files and keys and tells when to stop; may be null. A stop
  // fails the entry in progress and passes over the rest of the template.
  RunProgress* progress = nullptr;
  // Receives a line for each copy put in place, relative to the destination
  // ("Mail\\0\\" for a folder, "Mail\\3.reg" for a file); may be null.
  TextBuffer* written = nullptr;
  // Receives the digests of the files copied, taken while copying, for the
  // folders among the written lines; may be null.
  WrittenDigests* digests = nullptr;
};

// Backs up the template file at templatePath into destination (ending in
// "\\"): appends its block to restoreScript and one line per failed entry to
// errorText. Returns 0 when the file was read and no entry failed, else 1.
int BackupTemplate(const char* templatePath, const char* destination, TextBuffer* restoreScript, TextBuffer* errorText,
                   const TemplateOptions& options);

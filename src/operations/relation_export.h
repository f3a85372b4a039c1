// Exporting the file-type associations whose open command runs a program.
#pragma once

// Writes every matching extension key and its program-identifier key, from
// the machine-wide associations and the user's own choices, into the file
// named by entryFolder without its final "\\" plus ".reg". The flag is not
// used: associations are always written by the own writer. Returns 0, or 1
// with the last-error code set. With progress, each match is counted and a
// stop fails the export with ERROR_CANCELLED.
class RunProgress;
int ExportRelation(const char* program, const char* entryFolder, int unused, RunProgress* progress = nullptr);

// Checking a backup: verify compares its files with its manifest; preview
// lists what running its Restore.bat would change on this machine, and
// writes nothing to the system.
#pragma once

#include <windows.h>

#include "core/memory.h"

enum class CheckKind { kVerify, kPreview };

// The outcomes, which are also the command line's exit codes.
enum CheckResult : int {
  kCheckClean = 0,      // intact; or a restore would change nothing
  kCheckDifferent = 1,  // something to show
  kCheckNoBackup = 2,   // no manifest (verify) or no Restore.bat (preview)
};

// One difference: what it is (a catalogue text), where, and how it differs.
struct CheckFinding {
  int whatId;
  wchar_t* where;
  wchar_t* how;
};

class CheckReport {
 public:
  CheckReport() = default;
  ~CheckReport();
  CheckReport(const CheckReport&) = delete;
  CheckReport& operator=(const CheckReport&) = delete;
  // Copies both texts; false when memory runs out.
  bool Add(int whatId, const wchar_t* where, const wchar_t* how);
  const HeapList<CheckFinding>& findings() const { return findings_; }

  CheckKind kind = CheckKind::kVerify;
  int result = kCheckNoBackup;
  unsigned compared = 0;  // manifest lines checked, or restore commands followed
  TextBuffer text;        // the whole report for a person, UTF-8, CR LF lines

 private:
  HeapList<CheckFinding> findings_;
};

// Runs a check of the backup in destination (the code page's text; a
// missing final "\\" is added), fills the report with the findings and its
// text, and writes that text beside the backup as verify.txt or preview.txt
// (UTF-8). Returns the result.
int RunBackupCheck(CheckKind kind, const char* destination, CheckReport* report);

// A catalogue text with its "%ls" and "%u" places filled, wide, cut to room.
void FormatCatalogueText(wchar_t* out, size_t room, int messageId, ...);

// "DO BACKUP!": a whole backup run over the checked templates.
#pragma once

#include "backup/backup_view.h"
#include "core/memory.h"
#include "core/paths.h"

// The options, the toolbar's check buttons in the window.
struct BackupOptions {
  bool addDate = false;
  bool writeLog = false;
  bool useRegedit = false;
  bool portableRestore = false;  // Restore.bat follows the user to another PC
  int compression = 0;           // 0 for none, else the type chosen (1 for the first)
};
constexpr int kZipCompression = 2;  // the second type of the drop-down

// A checked template: its row in the list, its name and its file name in
// the template folder.
struct BackupItem {
  int row;
  char* name;
  char* fileName;
};

// What a run is asked to do, read from the window (or the command line) once
// before it starts.
class BackupRequest {
 public:
  BackupRequest() = default;
  ~BackupRequest();
  BackupRequest(const BackupRequest&) = delete;
  BackupRequest& operator=(const BackupRequest&) = delete;
  // Copies both texts; false when memory runs out.
  bool AddTemplate(int row, const char* name, const char* fileName);
  const HeapList<BackupItem>& templates() const { return templates_; }

  BackupOptions options;
  char destination[kPathSize] = {};  // as typed, at most 259 bytes

 private:
  HeapList<BackupItem> templates_;
};

struct BackupOutcome {
  bool started = false;  // false when a check or the user stopped it first
  int failures = 0;      // failed templates, and a Restore.bat or log.txt not written
};

BackupOutcome RunBackup(const BackupRequest& request, BackupView& view);

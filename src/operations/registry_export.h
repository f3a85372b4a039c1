// Exporting a registry key with its whole sub-tree as a registration file.
#pragma once

#include <windows.h>

#include "core/memory.h"
#include "core/paths.h"
#include "core/sha256.h"
#include "core/wide_text.h"
#include "operations/progress_window.h"

// A registration file being written. Keys, value names and data are read by
// the system's wide names; the file is REGEDIT4 in the code page while every
// name and string of it can be carried there byte for byte, and otherwise
// the registry editor's Unicode form ("Windows Registry Editor Version 5.00",
// UTF-16LE), built here as UTF-8 text. Never a "?" or a best-fit letter.
class RegExport {
 public:
  explicit RegExport(bool unicode) : unicode_(unicode) {}
  bool unicode() const { return unicode_; }
  const TextBuffer& text() const { return text_; }  // without the header
  // Appends the blocks of a key and of every key below it; keyPath is a root
  // (short or full), "\\" and the key's path. Returns 1 on success; 0 with
  // the last-error code set when any key or value of the tree cannot be read
  // (a partial export would delete the unread keys on restore), when a name
  // cannot stand on one line of the file (ERROR_INVALID_NAME), or when a
  // REGEDIT4 export meets text the code page cannot carry
  // (ERROR_NO_UNICODE_TRANSLATION: start again in the Unicode form). failed,
  // when given, names the key (or "key: value") that failed.
  // With progress, each key is counted, and a stop fails the export with
  // ERROR_CANCELLED.
  int WriteKey(RunProgress* progress, const wchar_t* keyPath, PathText* failed = nullptr);
  // Appends a line of text from the code page, such as a comment.
  bool AppendLine(const char* text);
  // Writes the header and the text beside path, then puts it in place.
  // Returns 0, or 1 with the last-error code set and any earlier file whole.
  // digest, when given, gets the SHA-256 of the bytes written.
  int WriteFile(const char* path, TakenDigest* digest = nullptr);

 private:
  // Enumeration buffers, grown when a key or a value needs more: a value's
  // name, and the registry's whole answer for a value.
  struct ValueBuffers {
    HeapBlock name, data;
    DWORD nameRoom = 0, dataRoom = 0;  // characters, bytes
    bool Reserve(DWORD nameChars, DWORD dataBytes) {
      if (nameChars > nameRoom) {
        name.reset(MemAlloc(size_t(nameChars) * sizeof(wchar_t)));
        nameRoom = name ? nameChars : 0;
      }
      if (dataBytes > dataRoom) {
        data.reset(MemAlloc(size_t(dataBytes)));
        dataRoom = data ? dataBytes : 0;
      }
      return name && data;
    }
  };

  // Appends the key `name` below parent and its tree; path is the key as
  // named, full the full name of its parent, fullTail what the key adds to it.
  // The top key of an export (or its one sub-key, and so on down) hands its
  // sub-trees to helper threads.
  int WriteTree(RunProgress* progress, HKEY parent, const wchar_t* name, const wchar_t* fullTail, WidePath* path,
                WidePath* full, PathText* failed, bool top = false);
  // Appends the sub-trees of key, read by helper threads, in their order;
  // -1 when no helper could be started (the caller walks them itself).
  int WriteSubTrees(RunProgress* progress, HKEY key, DWORD subKeyCount, DWORD maxSubKey, const WidePath& path,
                    const WidePath& full, PathText* failed);
  friend struct SubTreeWalk;
  int WriteValues(HKEY key, const wchar_t* keyName, DWORD valueCount, DWORD maxName, DWORD maxData, PathText* failed);
  bool AppendName(const wchar_t* name, size_t length, TextBuffer* out);
  // The name of key's sub-key index into KeyName() and its length, the
  // buffer grown when the name has outgrown it.
  LONG EnumSubKey(HKEY key, DWORD index, DWORD* length);
  bool ReserveKeyName(DWORD chars);
  wchar_t* KeyName() { return reinterpret_cast<wchar_t*>(keyName_.get()); }

  bool unicode_;
  bool helper_ = false;  // on a helper thread: no window messages here
  TextBuffer text_;
  ValueBuffers values_;
  HeapBlock keyName_;
  DWORD keyNameRoom_ = 0;
};

// Exports keyText (variables and short roots allowed) into the file named by
// entryFolder without its final "\\" plus ".reg", written aside and then put
// in place. With useRegedit the system's registry editor writes the file.
// Returns 0 on success, 1 with the last-error code set and, when it is
// known, the key (or "key: value") that failed in failedKey.
// digest, when given, gets the SHA-256 of the file the own writer wrote.
int ExportRegistryKey(const char* keyText, const char* entryFolder, int useRegedit, PathText* failedKey = nullptr,
                      RunProgress* progress = nullptr, TakenDigest* digest = nullptr);

// The file name of an entry's export: entryFolder without its final "\\" plus ".reg".
bool EntryRegFileName(const char* entryFolder, PathText* fileName);

// The common file dialogs' records, as the windows fill them.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <cstddef>

// A filter list in the user's code page: the dialogs get it through their
// ANSI entry points, where a Japanese name reaches an English system as
// question marks.
class DialogFilter {
 public:
  template <size_t N>
  explicit DialogFilter(const wchar_t (&pairs)[N]) {
    Convert(pairs, N);
  }
  const char* get() const { return text_; }

 private:
  void Convert(const wchar_t* pairs, size_t count);
  char text_[160] = {};
};

// An open or save dialog's record: owned by owner, the first filter chosen,
// the name read from and written to name (room bytes), a catalogue title.
// Both stay the caller's and must outlive the dialog.
OPENFILENAMEA FileDialogRecord(HWND owner, const DialogFilter& filter, char* name, DWORD room, const char* title);

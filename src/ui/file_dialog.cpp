#include "ui/file_dialog.h"

void DialogFilter::Convert(const wchar_t* pairs, size_t count) {
  // The last two bytes stay zero: a cut list still ends in an empty text.
  WideCharToMultiByte(CP_ACP, 0, pairs, int(count), text_, int(sizeof text_ - 2), nullptr, nullptr);
}

OPENFILENAMEA FileDialogRecord(HWND owner, const DialogFilter& filter, char* name, DWORD room, const char* title) {
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.get();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = name;
  dialog.nMaxFile = room;
  dialog.lpstrTitle = title;
  return dialog;
}

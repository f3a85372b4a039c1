#include "core/dialog_text.h"

#include "core/memory.h"

int GetItemTextLength(HWND dialog, int id) { return int(SendDlgItemMessageA(dialog, id, WM_GETTEXTLENGTH, 0, 0)); }

char* GetItemTextCopy(HWND dialog, int id) {
  const int length = GetItemTextLength(dialog, id);
  char* text = static_cast<char*>(MemAlloc(size_t(length) + 2));
  if (!text) return nullptr;
  text[0] = '\0';
  GetDlgItemTextA(dialog, id, text, length + 2);
  return text;
}

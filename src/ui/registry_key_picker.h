// A modal tree of the registry's keys, with the selected key's values shown
// for checking, from which the template editor takes a key path.
#pragma once

#include <windows.h>
#include <commctrl.h>

// The chosen key's path, root first in full ("HKEY_CURRENT_USER\\Software"),
// in a new block (MemFree it); the empty text for OK with nothing selected;
// null for Cancel, or when the dialog cannot be shown.
char* PickRegistryKey(HWND owner);

// The texts of an item and its ancestors, root first, joined by separator,
// without a trailing one; the empty text for no item. A new block, or null
// when memory runs out.
char* GetTreeItemPath(HWND tree, HTREEITEM item, const char* separator);
// An item's whole text, whatever its length, in a new block (or null).
char* GetTreeItemText(HWND tree, HTREEITEM item);

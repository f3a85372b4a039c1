#include <doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/messages.h"
#include "resource.h"
#include "support/test_support.h"
#include "ui/registry_key_picker.h"

namespace {

HWND TreeOf(HWND dialog) { return GetDlgItem(dialog, IDC_KEY_TREE); }

bool HasButton(HWND tree, HTREEITEM item) {
  TVITEMA get = {.mask = TVIF_HANDLE | TVIF_CHILDREN, .hItem = item};
  SendMessageA(tree, TVM_GETITEMA, 0, LPARAM(&get));
  return get.cChildren != 0;
}

std::vector<std::string> Names(HWND tree, HTREEITEM parent) {
  std::vector<std::string> names;
  for (HTREEITEM child : TreeChildren(tree, parent))
    names.push_back(TreeText(tree, child) + (HasButton(tree, child) ? "+" : ""));
  return names;
}

// Rows of the value list as "name|type|value".
std::vector<std::string> Rows(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_VALUE_LIST);
  std::vector<std::string> rows;
  for (int row = 0; row < int(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); ++row) {
    std::string line;
    for (int column = 0; column < 3; ++column) {
      char text[300] = {};
      LVITEMA item = {.iSubItem = column, .pszText = text, .cchTextMax = sizeof text};
      SendMessageA(list, LVM_GETITEMTEXTA, WPARAM(row), LPARAM(&item));
      line += (column ? "|" : "") + std::string(text);
    }
    rows.push_back(line);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::string Pick(std::function<void(HWND)> steps) {
  DialogScript script;
  script.Then(DialogKind::KeyPicker, steps);
  HeapBlock picked(PickRegistryKey(nullptr));
  CHECK(script.Done());
  return picked ? picked.get() : "(none)";
}

}  // namespace

TEST_CASE("the tree starts with the four roots, each with a button, and fills as it opens") {
  TestKey key{"Picker"};
  const std::string sub = key.subPath();
  CreateKey(HKEY_CURRENT_USER, sub + "\\gamma");
  CreateKey(HKEY_CURRENT_USER, sub + "\\beta\\inner");
  CreateKey(HKEY_CURRENT_USER, sub + "\\Alpha");
  SetDword(HKEY_CURRENT_USER, sub, "Count", 26);
  SetDword(HKEY_CURRENT_USER, sub, "Minus", 0xFFFFFFFF);
  SetValue(HKEY_CURRENT_USER, sub, "Twenty", REG_BINARY,
           std::string{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
  SetValue(HKEY_CURRENT_USER, sub, "Sixteen", REG_BINARY, std::string(16, '\xAB'));
  SetValue(HKEY_CURRENT_USER, sub, "Five", 5, std::string{0, 0, 0, 26});
  SetValue(HKEY_CURRENT_USER, sub, "Short", REG_DWORD, std::string{1, 2});
  SetValue(HKEY_CURRENT_USER, sub, "Quad", REG_QWORD, std::string{1, 0, 0, 0, 0, 0, 0, 0});
  SetValue(HKEY_CURRENT_USER, sub, "Multi", REG_MULTI_SZ, std::string("first\0second\0\0", 14));
  SetValue(HKEY_CURRENT_USER, sub, "Expand", REG_EXPAND_SZ, std::string("%WINDIR%\\x\0", 11));
  SetValue(HKEY_CURRENT_USER, sub, "Bare", REG_SZ, "no terminator");
  SetString(HKEY_CURRENT_USER, sub, "", "default");

  std::vector<std::string> roots, children, rows;
  const std::string picked = Pick([&](HWND dialog) {
    HWND tree = TreeOf(dialog);
    roots = Names(tree, nullptr);
    HTREEITEM item = OpenTreePath(tree, {"HKEY_CURRENT_USER", "Software", "ArkivantoTests", "Picker"});
    CHECK(item);
    if (!item) return Click(dialog, IDCANCEL);  // an exception must not cross the dialog's loop
    children = Names(tree, item);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(item));
    rows = Rows(dialog);
    Click(dialog, IDOK);
  });
  CHECK(roots ==
        std::vector<std::string>{"HKEY_CLASSES_ROOT+", "HKEY_CURRENT_USER+", "HKEY_LOCAL_MACHINE+", "HKEY_USERS+"});
  CHECK(children == std::vector<std::string>{"Alpha", "beta+", "gamma"});
  CHECK(rows == std::vector<std::string>{
                    "Bare|REG_SZ|no terminator", "Count|REG_DWORD|0x0000001A(26)", "Expand|REG_EXPAND_SZ|%WINDIR%\\x",
                    "Five|5|00 00 00 1A ", "Minus|REG_DWORD|0xFFFFFFFF(-1)", "Multi|REG_MULTI_SZ|first",
                    "Quad|REG_QWORD|01 00 00 00 00 00 00 00 ", "Short|REG_DWORD|01 02 ",
                    "Sixteen|REG_BINARY|AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB ",
                    "Twenty|REG_BINARY|00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ...",
                    "|REG_SZ|default",  // the default value has no name
                });
  CHECK(picked == key.path());
}

// A key picked with OK, and Cancel, are also worked by the template editor's
// browse button.
TEST_CASE("OK on a root gives its name, and with nothing selected the empty text") {
  SetDword(HKEY_CURRENT_USER, "", "ArkivantoPickerTest", 7);
  CHECK(Pick([](HWND dialog) {
          HWND tree = TreeOf(dialog);
          SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(TreeChildren(tree, nullptr)[1]));
          const std::vector<std::string> rows = Rows(dialog);
          CHECK(std::find(rows.begin(), rows.end(), "ArkivantoPickerTest|REG_DWORD|0x00000007(7)") != rows.end());
          Click(dialog, IDOK);
        }) == "HKEY_CURRENT_USER");
  RegDeleteKeyValueA(HKEY_CURRENT_USER, nullptr, "ArkivantoPickerTest");
  CHECK(Pick([](HWND dialog) {
          SendMessageA(TreeOf(dialog), TVM_SELECTITEM, TVGN_CARET, 0);
          Click(dialog, IDOK);
        }) == "");
}

TEST_CASE("a key removed after it was listed cannot be opened: the message, and nothing else changes") {
  ScriptedPerson person;
  TestKey key{"Vanishing"};
  CreateKey(HKEY_CURRENT_USER, key.subPath() + "\\Gone\\Child");
  SetDword(HKEY_CURRENT_USER, key.subPath(), "Kept", 1);
  std::vector<std::string> before, after, children;
  Pick([&](HWND dialog) {
    HWND tree = TreeOf(dialog);
    HTREEITEM parent = OpenTreePath(tree, {"HKEY_CURRENT_USER", "Software", "ArkivantoTests", "Vanishing"});
    CHECK(parent);
    if (!parent) return Click(dialog, IDCANCEL);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(parent));
    before = Rows(dialog);
    DeleteKeyTree(HKEY_CURRENT_USER, key.subPath() + "\\Gone");
    HTREEITEM gone = TreeChildren(tree, parent).front();
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, LPARAM(gone));
    after = Rows(dialog);
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, LPARAM(gone));
    children = Names(tree, gone);
    Click(dialog, IDCANCEL);
  });
  CHECK(before == std::vector<std::string>{"Kept|REG_DWORD|0x00000001(1)"});
  CHECK(after == before);
  CHECK(children.empty());
  const ShownMessage cannotOpen = {TextOf(IDS_CANT_OPEN_KEY_PERMISSION), TextOf(IDS_CAPTION_ERROR), MB_ICONERROR};
  CHECK(person.shown == std::vector<ShownMessage>(2, cannotOpen));  // selecting, then expanding
}

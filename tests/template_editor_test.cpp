#include <doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "core/handles.h"
#include "core/messages.h"
#include "core/program_folder.h"
#include "resource.h"
#include "support/test_support.h"
#include "core/fixed_texts.h"
#include "ui/template_editor.h"

namespace {

using Texts = std::vector<std::string>;

HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_ENTRY_LIST); }

int RowCount(HWND dialog) { return int(SendMessageA(List(dialog), LVM_GETITEMCOUNT, 0, 0)); }

// Rows as "image:text", with "*" after selected ones.
Texts Rows(HWND dialog) {
  Texts rows;
  for (int row = 0; row < RowCount(dialog); ++row) {
    char text[600] = {};
    LVITEMA item = {.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE,
                    .iItem = row,
                    .stateMask = LVIS_SELECTED,
                    .pszText = text,
                    .cchTextMax = sizeof text};
    SendMessageA(List(dialog), LVM_GETITEMA, 0, LPARAM(&item));
    rows.push_back(std::to_string(item.iImage) + ":" + text + (item.state & LVIS_SELECTED ? "*" : ""));
  }
  return rows;
}

// Chooses a kind, fills its field and presses Add.
void AddEntry(HWND dialog, int radio, int field, const std::string& text, bool recursive = false) {
  Click(dialog, radio);
  SetItemText(dialog, field, text);
  CheckDlgButton(dialog, IDC_INCLUDE_SUBDIRS, recursive ? BST_CHECKED : BST_UNCHECKED);
  Click(dialog, IDC_ADD_ENTRY);
}

void SetHeader(HWND dialog, const std::string& name, const std::string& description, const std::string& directory) {
  SetItemText(dialog, IDC_NAME_EDIT, name);
  SetItemText(dialog, IDC_DESCRIPTION_EDIT, description);
  SetItemText(dialog, IDC_DIRECTORY_EDIT, directory);
}

struct Editing {
  ScriptedPerson person;
  ScratchFolder program{"program"};
  std::string templates;
  DialogScript script;

  Editing() {
    templates = program / "template\\";
    CreateDirectoryA(templates.c_str(), nullptr);
    SetProgramFolder(program.path().c_str());
  }
  Editing& On(DialogKind kind, std::function<void(HWND)> step) {
    script.Then(kind, std::move(step));
    return *this;
  }
  Editing& Then(std::function<void(HWND)> step) { return On(DialogKind::TemplateEditor, std::move(step)); }
  Editing& Answer(std::function<void(HWND)> step) { return On(DialogKind::OverwriteQuestion, std::move(step)); }
  Editing& Pick(std::function<void(HWND)> step) { return On(DialogKind::KeyPicker, std::move(step)); }
  int Run(const std::string& path = "") {
    const int result = RunTemplateEditor(nullptr, path.empty() ? nullptr : path.c_str());
    CHECK(script.Done());
    return result;
  }
  Texts Shown() const {
    Texts texts;
    for (const ShownMessage& m : person.shown) texts.push_back(m.text);
    return texts;
  }
};

// Steps that press a button, or a key on the focused control.
std::function<void(HWND)> Press(int id) {
  return [id](HWND dialog) { Click(dialog, id); };
}
std::function<void(HWND)> Key(UINT message, WPARAM key) {
  return [message, key](HWND dialog) { PostKey(dialog, message, key); };
}
const auto SaveAs = Key(WM_KEYDOWN, VK_RETURN);
const auto Overwrite = Press(IDC_OVERWRITE);

const std::string kLoaded = "Name\nDescription\rDir\r\nF:a\r\nZ:b\r\nno colon here\r\nS:c\r\nR:unterminated";

}  // namespace

TEST_CASE("each kind makes its row and its line; an empty field or no kind makes an unset one") {
  Editing e;
  e.person.saveAnswers = {e.templates + "mail.txt"};
  e.Then([](HWND dialog) {
    SetHeader(dialog, "Mail", "Mail settings", "Mail");
    Click(dialog, IDC_ADD_ENTRY);  // no kind chosen
    AddEntry(dialog, IDC_KIND_FILE, IDC_FILE_PATH, "C:\\Mail\\*.ini");
    AddEntry(dialog, IDC_KIND_REGISTRY, IDC_KEY_PATH, "HKCU\\Software\\Mail");
    AddEntry(dialog, IDC_KIND_FILE, IDC_FILE_PATH, "");
    AddEntry(dialog, IDC_KIND_FILE, IDC_FILE_PATH, "D:\\tree\\*.*", true);
    AddEntry(dialog, IDC_KIND_RELATION, IDC_EXE_PATH, "C:\\Mail\\mail.exe");
    AddEntry(dialog, IDC_KIND_INI, IDC_INI_FILE, "C:\\Windows\\win.ini");
    CHECK(Rows(dialog) == Texts{"0:", "1:C:\\Mail\\*.ini", "3:HKCU\\Software\\Mail", "0:", "2:D:\\tree\\*.*",
                                "4:C:\\Mail\\mail.exe", "5:(INI)"});
    Click(dialog, IDOK);
  });
  CHECK(e.Run() == 1);
  CHECK(ReadFileBytes(e.templates + "mail.txt") ==
        "Mail\r\nMail settings\r\nMail\r\n?:\r\nF:C:\\Mail\\*.ini\r\nR:HKCU\\Software\\Mail\r\n"
        "?:\r\nS:D:\\tree\\*.*\r\nX:C:\\Mail\\mail.exe\r\nI:(INI)\r\n");
  // A new name: no question, only the notice that INI entries are not backed up.
  CHECK(e.person.shown == std::vector<ShownMessage>{{kIniEntryNotSupported, TextOf(IDS_CAPTION_ERROR), MB_OK}});
  CHECK(e.person.fileDialogFolders == Texts{e.templates});
}

TEST_CASE("an opened template shows its entries by kind and is saved back without its other lines") {
  Editing e;
  const std::string path = e.templates + "loaded.txt";
  WriteFileBytes(path, kLoaded);
  e.Then([&](HWND dialog) {
     CHECK(Texts{ItemText(dialog, IDC_NAME_EDIT), ItemText(dialog, IDC_DESCRIPTION_EDIT),
                 ItemText(dialog, IDC_DIRECTORY_EDIT)} == Texts{"Name", "Description", "Dir"});
     CHECK(Rows(dialog) == Texts{"1:a", "0:b", "2:c"});  // a last line without a line end is not an entry
     Click(dialog, IDOK);
   }).Answer(Overwrite);
  CHECK(e.Run(path) == 1);
  CHECK(ReadFileBytes(path) == "Name\r\nDescription\r\nDir\r\nF:a\r\n?:b\r\nS:c\r\n");
  CHECK(e.person.shown.empty());  // overwriting asks nothing more
  CHECK(e.person.fileDialogFolders.empty());

  // A double-byte first character counts as one before the colon.
  WriteFileBytes(path, "N\r\nD\r\nX\r\n\x82\xa0:b\r\n");  // "あ:b" in Shift-JIS
  e.Then([&](HWND dialog) {
    CHECK(Rows(dialog) == (JapaneseSystem() ? Texts{"0:b"} : Texts{}));
    Click(dialog, IDCANCEL);
  });
  CHECK(e.Run(path) == 0);
}

TEST_CASE("the browse buttons fill their fields; Cancel and over-long answers change nothing") {
  Editing e;
  TestKey key{"EditorPick"};
  // The whole path is over 259 bytes; the part below the root still opens
  // through the ANSI registry calls, which take at most 260 characters.
  const std::string longName(210, 'k');
  CreateKey(HKEY_CURRENT_USER, key.subPath() + "\\" + longName);
  Texts fields;
  auto keep = [&](HWND dialog) {
    for (int id : {IDC_FILE_PATH, IDC_KEY_PATH, IDC_EXE_PATH, IDC_INI_FILE}) fields.push_back(ItemText(dialog, id));
  };
  const Texts keyPath = {"HKEY_CURRENT_USER", "Software", "ArkivantoTests", "EditorPick"};
  Texts longPath = keyPath;
  longPath.push_back(longName);

  auto browse = [](HWND dialog, int radio, int button) {
    Click(dialog, radio);
    Click(dialog, button);
  };
  e.Then([&](HWND dialog) {
     e.person.folderAnswer = "C:\\Data";
     browse(dialog, IDC_KIND_FILE, IDC_BROWSE_FOLDER);
     e.person.openAnswer = "C:\\Mail\\mail.exe";
     browse(dialog, IDC_KIND_RELATION, IDC_BROWSE_EXE);
     e.person.openAnswer = "C:\\Mail\\mail.ini";
     browse(dialog, IDC_KIND_INI, IDC_BROWSE_INI);
     browse(dialog, IDC_KIND_REGISTRY, IDC_BROWSE_KEY);
   })
      .Pick(PickKey(keyPath, IDOK))
      .Then([&](HWND dialog) {
        keep(dialog);
        e.person.folderAnswer = "C:\\";
        browse(dialog, IDC_KIND_FILE, IDC_BROWSE_FOLDER);
        e.person.folderAnswer = "C:\\" + std::string(253, 'd');  // with "\\*.*" one byte too long
        Click(dialog, IDC_BROWSE_FOLDER);
        e.person.openAnswer.clear();
        browse(dialog, IDC_KIND_RELATION, IDC_BROWSE_EXE);
        browse(dialog, IDC_KIND_REGISTRY, IDC_BROWSE_KEY);
      })
      .Pick(PickKey(keyPath, IDCANCEL))
      .Then([&](HWND dialog) { Click(dialog, IDC_BROWSE_KEY); })
      .Pick(PickKey(longPath, IDOK))
      .Then([&](HWND dialog) {
        keep(dialog);
        Click(dialog, IDCANCEL);
      });
  CHECK(e.Run() == 0);
  // The root folder gives "C:\\*.*"; nothing after it changes a field.
  CHECK(fields == Texts{"C:\\Data\\*.*", key.path(), "C:\\Mail\\mail.exe", "C:\\Mail\\mail.ini", "C:\\*.*", key.path(),
                        "C:\\Mail\\mail.exe", "C:\\Mail\\mail.ini"});
  CHECK(e.Shown() == Texts{SystemText(ERROR_FILENAME_EXCED_RANGE), SystemText(ERROR_FILENAME_EXCED_RANGE)});
}

TEST_CASE("Add, Update, Delete and the moves on rows selected together") {
  Editing e;
  e.person.saveAnswers = {e.templates + "rows.txt"};
  e.Then([&](HWND dialog) {
    for (const char* name : {"A", "B", "C", "D", "E"}) AddEntry(dialog, IDC_KIND_REGISTRY, IDC_KEY_PATH, name);
    SelectRows(List(dialog), {1, 2});
    Click(dialog, IDC_MOVE_UP);
    const Texts movedUp = {"3:B*", "3:C*", "3:A", "3:D", "3:E"};
    CHECK(Rows(dialog) == movedUp);
    Click(dialog, IDC_MOVE_UP);  // the block is at the top already
    CHECK(Rows(dialog) == movedUp);
    SelectRows(List(dialog), {0, 1, 4});
    Click(dialog, IDC_MOVE_DOWN);
    CHECK(Rows(dialog) == Texts{"3:A", "3:B*", "3:C*", "3:D", "3:E*"});
    Click(dialog, IDC_UPDATE_ENTRY);  // three selected
    SelectRows(List(dialog), {});
    Click(dialog, IDC_UPDATE_ENTRY);
    Click(dialog, IDC_DELETE_ENTRIES);
    SelectRows(List(dialog), {3});
    AddEntry(dialog, IDC_KIND_FILE, IDC_FILE_PATH, "");  // an empty field leaves the new row empty
    Click(dialog, IDC_UPDATE_ENTRY);                     // and the selected row as it was
    SetItemText(dialog, IDC_FILE_PATH, "C:\\x\\*.*");
    Click(dialog, IDC_UPDATE_ENTRY);
    CHECK(Rows(dialog) == Texts{"3:A", "3:B", "3:C", "1:C:\\x\\*.**", "3:E", "0:"});
    SelectRows(List(dialog), {0, 5});
    e.person.answers = {IDNO, IDYES};
    Click(dialog, IDC_DELETE_ENTRIES);  // No deletes nothing
    CHECK(Rows(dialog) == Texts{"3:A*", "3:B", "3:C", "1:C:\\x\\*.*", "3:E", "0:*"});
    Click(dialog, IDC_DELETE_ENTRIES);
    CHECK(Rows(dialog) == Texts{"3:B", "3:C", "1:C:\\x\\*.*", "3:E"});
    Click(dialog, IDOK);
  });
  CHECK(e.Run() == 1);
  CHECK(ReadFileBytes(e.templates + "rows.txt") == "\r\n\r\n\r\nR:B\r\nR:C\r\nF:C:\\x\\*.*\r\nR:E\r\n");
  const std::string question = TextOf(IDS_DELETE_TASKS_QUESTION, 2);
  CHECK(e.Shown() == Texts{TextOf(IDS_TWO_OR_MORE_SELECTED), TextOf(IDS_NO_TEMPLATES_SELECTED),
                           TextOf(IDS_NO_TEMPLATES_SELECTED), question, question});
  CHECK(e.person.shown[3] ==
        ShownMessage{question, TextOf(IDS_CAPTION_QUESTION), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2});
}

TEST_CASE("Cancel asks only after a real change to the rows") {
  Editing e;
  const std::string path = e.templates + "t.txt";
  WriteFileBytes(path, "T\r\n\r\n\r\nF:a\r\nF:b\r\n");
  SUBCASE("typing in the fields and a move that moves nothing close at once") {
    e.Then([](HWND dialog) {
      SetHeader(dialog, "Changed", "x", "y");
      SelectRows(List(dialog), {0});
      Click(dialog, IDC_MOVE_UP);
      Click(dialog, IDCANCEL);
    });
    CHECK(e.Run(path) == 0);
    CHECK(e.person.shown.empty());
  }
  SUBCASE("a real move asks; No stays, Yes leaves; Esc and the close box ask the same") {
    e.person.answers = {IDNO, IDNO, IDYES};
    e.Then([](HWND dialog) {
       SelectRows(List(dialog), {1});
       Click(dialog, IDC_MOVE_UP);
       Click(dialog, IDCANCEL);
       PostKey(dialog, WM_KEYDOWN, VK_ESCAPE);
     }).Then([](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
    CHECK(e.Run(path) == 0);
    const ShownMessage question = {TextOf(IDS_CANCEL_EDITING), TextOf(IDS_CAPTION_QUESTION),
                                   MB_YESNO | MB_ICONQUESTION};
    CHECK(e.person.shown == std::vector<ShownMessage>(3, question));
  }
  SUBCASE("an Add counts too") {
    e.person.answers = {IDYES};
    e.Then([](HWND dialog) {
      Click(dialog, IDC_ADD_ENTRY);
      Click(dialog, IDCANCEL);
    });
    CHECK(e.Run(path) == 0);
    CHECK(e.Shown() == Texts{TextOf(IDS_CANCEL_EDITING)});
  }
  SUBCASE("a field too long for an entry is refused before anything changes") {
    e.Then([](HWND dialog) {
      Click(dialog, IDC_KIND_REGISTRY);
      SetItemText(dialog, IDC_KEY_PATH, std::string(260, 'k'));
      Click(dialog, IDC_ADD_ENTRY);
      CHECK(RowCount(dialog) == 2);
      Click(dialog, IDCANCEL);  // nothing changed: no question
    });
    CHECK(e.Run(path) == 0);
    REQUIRE(e.person.shown.size() == 1);
    CHECK(e.person.shown[0].text == SystemText(ERROR_FILENAME_EXCED_RANGE));
  }
  CHECK(ReadFileBytes(path) == "T\r\n\r\n\r\nF:a\r\nF:b\r\n");
}

TEST_CASE("saving an opened template under another name") {
  Editing e;
  const std::string path = e.templates + "t.txt";
  const std::string other = e.templates + "other.txt";
  WriteFileBytes(path, "T\r\n\r\n\r\n");
  WriteFileBytes(other, "Other\r\n\r\n\r\n");
  SUBCASE("an existing name asks; No asks for a name again, Yes replaces the file") {
    e.person.saveAnswers = {other, other};
    e.person.answers = {IDNO, IDYES};
    e.Then(Press(IDOK)).Answer(SaveAs);
    CHECK(e.Run(path) == 1);
    CHECK(ReadFileBytes(other) == "T\r\n\r\n\r\n");
    const ShownMessage question = {TextOf(IDS_SAME_NAME_OVERWRITE), TextOf(IDS_CAPTION_QUESTION),
                                   MB_YESNO | MB_ICONQUESTION};
    CHECK(e.person.shown == std::vector<ShownMessage>{question, question});
  }
  SUBCASE("Cancel in the question, or in the save dialog, goes back to the editor") {
    e.person.saveAnswers = {other, ""};
    e.Then(Press(IDOK))
        .Answer(Key(WM_KEYDOWN, VK_ESCAPE))
        .Then(Press(IDOK))
        .Answer(Key(WM_SYSKEYDOWN, VK_F4))
        .Then(Press(IDOK))
        .Answer(SaveAs)
        .Then(Press(IDCANCEL));
    CHECK(e.Run(path) == 0);
    CHECK(e.Shown() == Texts{TextOf(IDS_SAME_NAME_OVERWRITE)});
    CHECK(e.person.fileDialogFolders.size() == 2);
  }
  CHECK(ReadFileBytes(path) == "T\r\n\r\n\r\n");
}

TEST_CASE("a template that cannot be opened or read leaves the editor empty") {
  Editing e;
  const std::string path = e.templates + "t.txt";
  e.Then([&](HWND dialog) {
     CHECK(Rows(dialog).empty());
     CHECK(ItemText(dialog, IDC_NAME_EDIT).empty());
     Click(dialog, IDOK);
   })
      .Answer(Press(IDCANCEL))
      .Then(Press(IDCANCEL));
  int expected = 0;
  SUBCASE("missing") {
    CHECK(e.Run(path) == 0);
    expected = IDS_CANT_OPEN_TEMPLATE;
  }
  SUBCASE("holding a NUL byte, which would hide the lines after it") {
    WriteFileBytes(path, std::string("Nul\r\n\r\n\r\nF:a\0\r\nF:b\r\n", 19));
    CHECK(e.Run(path) == 0);
    expected = IDS_CANT_READ_TEMPLATE;
  }
  CHECK(e.person.shown == std::vector<ShownMessage>{{TextOf(expected), TextOf(IDS_CAPTION_ERROR), MB_ICONERROR}});
}

TEST_CASE("a file that cannot be written: retry, or go back to the editor with the work kept") {
  Editing e;
  const std::string path = e.templates + "t.txt";
  WriteFileBytes(path, "T\r\n\r\n\r\nF:a\r\n");
  // Another program reads it and lets others read, but not write.
  FileHandle held(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  const std::string openFailed = TextOf(IDS_CANT_OPEN_FILE_TO_WRITE), writeFailed = TextOf(IDS_CANT_WRITE_FILE);
  SUBCASE("held open: Yes retries and succeeds once the other program lets go") {
    e.person.answers = {IDYES, IDYES};
    e.person.onShow = [&](const ShownMessage&) {
      if (e.person.shown.size() == 2) held.reset();
    };
    e.Then([](HWND dialog) {
       AddEntry(dialog, IDC_KIND_FILE, IDC_FILE_PATH, "b");
       Click(dialog, IDOK);
     }).Answer(Overwrite);
    CHECK(e.Run(path) == 1);
    const ShownMessage retry = {openFailed, TextOf(IDS_CANT_OPEN_FILE), MB_YESNO | MB_ICONERROR};
    CHECK(e.person.shown == std::vector<ShownMessage>{retry, retry});
    CHECK(ReadFileBytes(path) == "T\r\n\r\n\r\nF:a\r\nF:b\r\n");
  }
  SUBCASE("a full disk: No goes back to the editor, and saving elsewhere then works") {
    FilledDrive full;
    e.person.saveAnswers = {full.path() + "full.txt", e.templates + "saved.txt"};
    e.person.answers = {IDYES, IDNO};
    e.Then([](HWND dialog) {
       AddEntry(dialog, IDC_KIND_FILE, IDC_FILE_PATH, "b");
       Click(dialog, IDOK);
     })
        .Answer(SaveAs)
        .Then([&](HWND dialog) {
          CHECK(Rows(dialog) == Texts{"1:a", "1:b"});
          Click(dialog, IDOK);
        })
        .Answer(SaveAs);
    held.reset();
    CHECK(e.Run(path) == 1);
    const ShownMessage retry = {writeFailed, TextOf(IDS_CANT_OPEN_FILE), MB_YESNO | MB_ICONERROR};
    CHECK(e.person.shown == std::vector<ShownMessage>{retry, retry});
    CHECK(ReadFileBytes(e.templates + "saved.txt") == "T\r\n\r\n\r\nF:a\r\nF:b\r\n");
  }
}

TEST_CASE("resized larger the list grows and the controls follow the edge; it never gets smaller than it opened") {
  Editing e;
  std::vector<int> moved;
  RECT opened = {}, smallest = {};
  e.Then([&](HWND dialog) {
    const auto place = [](HWND control) {
      RECT r = {};
      GetWindowRect(control, &r);
      MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
      return r;
    };
    HWND list = List(dialog);
    const RECT listBefore = place(list), okBefore = place(GetDlgItem(dialog, IDOK)),
               fileBefore = place(GetDlgItem(dialog, IDC_FILE_PATH));
    GetWindowRect(dialog, &opened);
    SetWindowPos(dialog, nullptr, 0, 0, opened.right - opened.left + 100, opened.bottom - opened.top + 60,
                 SWP_NOMOVE | SWP_NOZORDER);
    RECT listClient = {};
    GetClientRect(list, &listClient);
    moved = {place(list).right - listBefore.right, place(list).bottom - listBefore.bottom,
             place(GetDlgItem(dialog, IDOK)).left - okBefore.left,
             place(GetDlgItem(dialog, IDC_FILE_PATH)).left - fileBefore.left,
             int(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0)) - listClient.right};
    SetWindowPos(dialog, nullptr, 0, 0, 50, 50, SWP_NOMOVE | SWP_NOZORDER);
    GetWindowRect(dialog, &smallest);
    Click(dialog, IDCANCEL);
  });
  CHECK(e.Run() == 0);
  CHECK(moved == std::vector<int>{100, 60, 100, 100, 0});
  CHECK(smallest.right - smallest.left == opened.right - opened.left);
  CHECK(smallest.bottom - smallest.top == opened.bottom - opened.top);
}

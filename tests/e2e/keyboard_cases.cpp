// The main window from the keyboard: Tab between its controls, typed text
// in both code pages, Enter and F5 to back up and Esc to stop, F1 and the
// About box's link for the user guide.
#include <doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "e2e/driver.h"
#include "resource.h"

namespace {

void AwaitFocus(const Program& program, HWND control, const std::string& what) {
  program.Await("the focus on " + what, [&] { return program.Focused() == control; });
}

// The guide's folder beside the program, as the run command lays it out.
void CopyGuides(const Program& program) {
  const std::string source = WindowsPath(ARK_E2E_DOCS);
  CreateDirectoryA((program.folder() + "docs").c_str(), nullptr);
  for (const char* name : {"guide_en.txt", "guide_ja.txt"})
    REQUIRE(CopyFileA((source + "\\" + name).c_str(), (program.folder() + "docs\\" + name).c_str(), FALSE));
}

// The text editor that shows the guide: its text as the system code page
// holds it, then it is closed.
std::string ReadGuideAndClose(const Program& program, const std::string& file) {
  HWND editor = nullptr;
  program.Await("a text editor showing " + file, [&] { return (editor = TopLevelWithTitle(file)) != nullptr; });
  HWND text = FindWindowExA(editor, nullptr, "Edit", nullptr);
  const std::string shown = text ? TextOf(text) : "";
  PostMessageA(editor, WM_CLOSE, 0, 0);
  program.Await("the text editor to close", [&] { return !IsWindow(editor); });
  return shown;
}

}  // namespace

TEST_CASE("tab and shift tab move the focus") {
  Program program({.templates = {{"notes.txt", "Notes\r\n\r\nNotes\r\nF:C:\\Notes\\*.*\r\n"}}});
  HWND field = DestinationField(program), refer = GetDlgItem(program.main(), IDC_BROWSE_BUTTON),
       list = TemplateList(program);
  // The window opens ready for the destination to be typed.
  AwaitFocus(program, field, "the destination field");
  // Typed text arrives whole, as a window message brings it, then as the
  // keyboard and an input method do.
  const std::wstring folder = Localized(L"C:\\バックアップ\\表示", L"C:\\Sauvegardé\\Ærø");
  program.TypeInto(field, folder);
  SetTextOf(field, "");
  program.TypeOnKeyboard(folder);
  program.Await("the keyboard's text in the field", [&] { return TextOf(field) == Ansi(folder); });
  program.PressKey(VK_TAB);
  AwaitFocus(program, refer, "\"Refer...\"");
  program.PressKey(VK_TAB);
  AwaitFocus(program, list, "the template list");
  program.PressKeys({VK_SHIFT, VK_TAB});
  AwaitFocus(program, refer, "\"Refer...\" again");
  program.PressKeys({VK_SHIFT, VK_TAB});
  AwaitFocus(program, field, "the destination field again");
  program.PressKeys({VK_SHIFT, VK_TAB});
  AwaitFocus(program, list, "the list, round from the first control");
  // Space in the list checks the row in focus, as a click on its box does.
  program.PressKeys({VK_DOWN});
  program.PressKeys({VK_SPACE});
  program.Await("the row checked from the keyboard", [&] { return program.IsItemChecked(list, 0); });
  CHECK(program.Close() == 0);
}

TEST_CASE("f1 and the about box open the user guide") {
  Program program;
  CopyGuides(program);
  const std::string file = JapaneseSystem() ? "guide_ja.txt" : "guide_en.txt";
  // The editor reads the guide's encoding right: its own language's words.
  const std::string words = Ansi(Localized(L"元に戻す", L"Restoring"));
  program.PressKey(VK_F1);
  CHECK(ReadGuideAndClose(program, file).find(words) != std::string::npos);

  // The About box from the system menu: the link to the guide, and the icon
  // that starts the tune, which stops as the box closes (about_test checks
  // its version line and what it plays).
  PostMessageA(program.main(), WM_SYSCOMMAND, IDM_ABOUT, 0);
  HWND about = program.WaitForDialog("the About box", IDC_ABOUT_DETAILS);
  ClickAt(GetDlgItem(about, IDC_ABOUT_DETAILS), {4, 4});
  CHECK(ReadGuideAndClose(program, file).find(words) != std::string::npos);
  ClickAt(GetDlgItem(about, IDC_ABOUT_ICON), {4, 4});
  program.Answer(about, IDOK);
  CHECK(IsWindowEnabled(program.main()));
  CHECK(program.Close() == 0);
}

// Enter in the destination field asks the last question, and F5 in the list
// too. A long copy stopped with Esc: the question waits while the key is
// held, the entry at work fails as stopped and the next template is not begun.
TEST_CASE("esc stops a long copy") {
  ScratchFolder source("e2e_many"), target("e2e_stop");
  for (int folder = 0; folder < 20; ++folder) {
    const std::string sub = source / std::to_string(folder);
    CreateDirectoryA(sub.c_str(), nullptr);
    for (int i = 0; i < 100; ++i) WriteFileBytes(sub + "\\" + std::to_string(i) + ".txt", "x");
  }
  TestKey key("E2EStop" + std::to_string(GetCurrentProcessId()));
  SetDword(HKEY_CURRENT_USER, key.subPath(), "Kept", 1);
  Program program(
      {.templates = {{"long.txt", "Long\r\n\r\nLong\r\nR:" + key.path() + "\r\nS:" + source.path() + "*.*\r\n"},
                     {"next.txt", "Next\r\n\r\nNext\r\nR:" + key.path() + "\r\n"}}});
  HWND list = TemplateList(program);
  const std::string destination = target / "backup\\";
  program.TypeInto(DestinationField(program), Wide(destination));
  program.SetItemChecked(list, 0, true);
  program.SetItemChecked(list, 1, true);
  program.PressKey(VK_RETURN);
  MessageBoxShown question = program.WaitForMessageBox("the last confirmation after Enter");
  CHECK(question.text.find(destination) != std::string::npos);
  program.Answer(question.window, IDNO);
  program.Focus(list);
  program.PressKey(VK_F5);
  question = program.WaitForMessageBox("the last confirmation after F5");
  program.Answer(question.window, IDYES);

  // The status bar names the template and the file at work.
  HWND status = FindWindowExA(program.main(), nullptr, STATUSCLASSNAMEA, nullptr);
  program.Await("the status naming a file being copied", [&] {
    const std::string shown = TextOf(status);
    return shown.find("Long") != std::string::npos && shown.find(source.path()) != std::string::npos;
  });
  {
    // Held for a second and a half, repeating as a keyboard does.
    HeldKey escape(VK_ESCAPE);
    for (int i = 0; i < 30; ++i, Sleep(50)) escape.Repeat();
  }
  // Asked once the key is let go; the repeats queued meanwhile answer nothing.
  question = program.WaitForMessageBox("the question whether to stop");
  CHECK(question.text.find(Ansi(Localized(L"中断しますか", L"stop the backup"))) != std::string::npos);
  Sleep(300);
  REQUIRE(IsWindowVisible(question.window));
  program.Answer(question.window, IDYES);

  const MessageBoxShown report = program.WaitForMessageBox("the final report");
  CHECK(report.text.find("Long\r\n    ") != std::string::npos);
  CHECK(report.text.find(source.path() + "*.*") != std::string::npos);
  CHECK(report.text.find("Next") == std::string::npos);
  program.Answer(report.window, IDOK);
  // What the stopped run leaves (the script, the files, the rows still
  // checked) is checked in detail by backup_run_test; here, that it kept the
  // registry entry finished before.
  CHECK(ReadFileBytes(destination + "Restore.bat").find("\"Long\\0.reg\"") != std::string::npos);
  CHECK(program.Close() == 0);
}

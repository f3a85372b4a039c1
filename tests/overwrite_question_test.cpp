#include <doctest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "resource.h"
#include "support/test_support.h"
#include "ui/overwrite_question.h"

namespace {

// Runs the question with one action on it; returns its answer.
int Answer(std::function<void(HWND)> action, ScriptedPerson* person = nullptr, HWND* seen = nullptr) {
  DialogScript script;
  script.Then(DialogKind::OverwriteQuestion, [&](HWND dialog) {
    if (seen) *seen = dialog;
    if (person) CHECK(person->sounds == std::vector<std::string>{"sound SystemQuestion"});
    CHECK(SendDlgItemMessageA(dialog, IDC_QUESTION_ICON, STM_GETICON, 0, 0) != 0);
    CHECK(SendMessageA(dialog, DM_GETDEFID, 0, 0) == MAKELRESULT(IDOK, DC_HASDEFID));
    action(dialog);
  });
  const int answer = AskOverwriteOrSaveAs(nullptr);
  CHECK(script.Done());
  return answer;
}

}  // namespace

TEST_CASE("the question opens centred with its icon and sound, and answers by button or key") {
  ScriptedPerson person;
  HWND seen = nullptr;
  CHECK(Answer([](HWND dialog) { PostKey(dialog, WM_KEYDOWN, VK_RETURN); }, &person, &seen) == IDOK);
  CHECK(seen != nullptr);
  CHECK(Answer([](HWND dialog) { PostKey(dialog, WM_KEYDOWN, VK_ESCAPE); }) == IDCANCEL);
  CHECK(Answer([](HWND dialog) { PostKey(dialog, WM_SYSKEYDOWN, VK_F4); }) == IDCANCEL);
  CHECK(Answer([](HWND dialog) { Click(dialog, IDC_OVERWRITE); }) == IDC_OVERWRITE);
  CHECK(Answer([](HWND dialog) { Click(dialog, IDCANCEL); }) == IDCANCEL);
  CHECK(Answer([](HWND dialog) { Click(dialog, IDOK); }) == IDOK);
}

TEST_CASE("without a system menu, centred on the screen") {
  LONG_PTR style = 0;
  RECT box = {}, work = {};
  Answer([&](HWND dialog) {
    style = GetWindowLongPtrA(dialog, GWL_STYLE);
    GetWindowRect(dialog, &box);
    Click(dialog, IDCANCEL);
  });
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  CHECK((style & WS_SYSMENU) == 0);
  CHECK((style & WS_CAPTION) == WS_CAPTION);
  CHECK(std::abs((box.left + box.right) - (work.left + work.right)) <= 2);
  CHECK(std::abs((box.top + box.bottom) - (work.top + work.bottom)) <= 2);
}

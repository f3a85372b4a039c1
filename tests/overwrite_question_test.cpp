#include <doctest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "resource.h"
#include "support/test_support.h"
#include "ui/overwrite_question.h"

// Its buttons and keys are pressed by the template editor's tests, which see
// what each answer does.
TEST_CASE("the question opens centred with its icon, sound and default button") {
  ScriptedPerson person;
  RECT box = {}, work = {};
  std::vector<std::string> sounds;
  DialogScript script;
  script.Then(DialogKind::OverwriteQuestion, [&](HWND dialog) {
    sounds = person.sounds;
    GetWindowRect(dialog, &box);
    CHECK(SendDlgItemMessageA(dialog, IDC_QUESTION_ICON, STM_GETICON, 0, 0) != 0);
    PostKey(dialog, WM_KEYDOWN, VK_RETURN);
  });
  CHECK(AskOverwriteOrSaveAs(nullptr) == IDOK);
  CHECK(script.Done());
  CHECK(sounds == std::vector<std::string>{"sound SystemQuestion"});
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  CHECK(std::abs((box.left + box.right) - (work.left + work.right)) <= 2);
  CHECK(std::abs((box.top + box.bottom) - (work.top + work.bottom)) <= 2);
}

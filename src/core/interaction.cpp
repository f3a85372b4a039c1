#include "core/interaction.h"

namespace {

class PlatformPerson final : public Person {
 public:
  int ShowMessage(HWND owner, const char* text, const char* caption, UINT type) override {
    return MessageBoxA(owner, text, caption, type);
  }
  SHORT KeyState(int virtualKey) override { return GetAsyncKeyState(virtualKey); }
  void Now(SYSTEMTIME* time) override { GetLocalTime(time); }
};

PlatformPerson platformPerson;
Person* current = &platformPerson;

}  // namespace

Person& CurrentPerson() { return *current; }

Person* SetPerson(Person* person) {
  Person* previous = current == &platformPerson ? nullptr : current;
  current = person ? person : &platformPerson;
  return previous;
}

#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest.h>

#include <windows.h>

#include "core/messages.h"

int main(int argc, char** argv) {
  doctest::Context context(argc, argv);
  const int result = context.run();
  FreeMessages();
  return result;
}

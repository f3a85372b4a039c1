#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest.h>

#include <windows.h>

#include "core/messages.h"
#include "support/test_support.h"

int main(int argc, char** argv) {
  const int child = RunTestChildIfAsked(argc, argv);
  if (child >= 0) return child;
  doctest::Context context(argc, argv);
  const int result = context.run();
  FreeMessages();
  return result;
}

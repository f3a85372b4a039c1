#include "core/errors.h"

#include <cstdio>
#include <cstdlib>

#include "core/handles.h"

int AppendSystemErrorText(TextBuffer* out, DWORD code) {
  LocalText text;
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<char*>(text.out()), 0, nullptr);
  if (n == 0 || !text) return 0;
  return TextBufferAppend(out, text.get());
}

void ArkAssertFailed(const char* condition, const char* file, int line) {
  char message[512];
  snprintf(message, sizeof message, "%s:%d: %s", file, line, condition);
  OutputDebugStringA(message);
  fprintf(stderr, "assertion failed: %s\n", message);
  abort();
}

DWORD SetLastErrorCode(DWORD code) {
  SetLastError(code);
  return code;
}

// Error codes and their texts.
#pragma once

#include <windows.h>

#include "core/memory.h"

// Appends the system's own text for a last-error code; appends nothing when
// the system has none. Returns 1 when text was appended.
int AppendSystemErrorText(TextBuffer* out, DWORD code);

DWORD SetLastErrorCode(DWORD code);

// Invariant check: the condition must have no side effects.
#ifdef NDEBUG
#define ARK_ASSERT(condition) ((void)0)
#else
#define ARK_ASSERT(condition) ((condition) ? (void)0 : ArkAssertFailed(#condition, __FILE__, __LINE__))
#endif
[[noreturn]] void ArkAssertFailed(const char* condition, const char* file, int line);

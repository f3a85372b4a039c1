// One door for what the user is told: errors, notices, questions and the
// system's text for an error code. Captions come from the catalogue; every
// box goes through the seam (interaction.h), where tests answer it.
#pragma once

#include <windows.h>

// A message box with a caption from the catalogue; the box's answer.
int Tell(HWND owner, const char* text, int captionId, UINT type);
// The same with a caption of the caller's (a file name, an entry's kind).
int TellWithCaption(HWND owner, const char* text, const char* caption, UINT type);

void ShowError(HWND owner, const char* text);   // "Error", error icon
void ShowNotice(HWND owner, const char* text);  // "Notify", information icon
// The system's text for code, then detail (may be null), as an error.
void ShowSystemError(HWND owner, DWORD code, const char* detail = nullptr);
// A Yes/No question; extra adds an icon and the default button. True on Yes.
bool AskYesNo(HWND owner, const char* text, int captionId, UINT extra);
// A failure's catalogue text that ends in "Retry?": true on Yes.
bool AskRetry(HWND owner, int messageId, int captionId);

#include "core/notices.h"

#include "core/errors.h"
#include "core/interaction.h"
#include "core/memory.h"
#include "core/messages.h"

int Tell(HWND owner, const char* text, int captionId, UINT type) {
  return ShowMessage(owner, text, LoadMessage(captionId), type);
}

int TellWithCaption(HWND owner, const char* text, const char* caption, UINT type) {
  return ShowMessage(owner, text, caption, type);
}

void ShowError(HWND owner, const char* text) { Tell(owner, text, IDS_CAPTION_ERROR, MB_ICONERROR); }

void ShowNotice(HWND owner, const char* text) { Tell(owner, text, IDS_CAPTION_NOTIFY, MB_ICONINFORMATION); }

void ShowSystemError(HWND owner, DWORD code, const char* detail) {
  TextBuffer text;
  TextBufferInit(&text);
  AppendSystemErrorText(&text, code);
  if (detail) TextBufferAppend(&text, detail);
  ShowError(owner, text.text ? text.text : "");
}

bool AskYesNo(HWND owner, const char* text, int captionId, UINT extra) {
  return Tell(owner, text, captionId, MB_YESNO | extra) == IDYES;
}

bool AskRetry(HWND owner, int messageId, int captionId) {
  return AskYesNo(owner, LoadMessage(messageId), captionId, MB_ICONERROR);
}

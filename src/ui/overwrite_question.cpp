#include "ui/overwrite_question.h"

#include "core/interaction.h"

namespace {

constexpr char kQuestionSound[] = "sound SystemQuestion";

void OnInitDialog(HWND dialog) {
  // A shared system icon: it is not destroyed.
  const HICON question = LoadIconA(nullptr, MAKEINTRESOURCEA(32514));  // IDI_QUESTION
  SendDlgItemMessageA(dialog, IDC_QUESTION_ICON, STM_SETICON, WPARAM(question), 0);
  SendSoundCommand(kQuestionSound);
}

INT_PTR CALLBACK OverwriteQuestionProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
        case IDC_OVERWRITE:
        case IDCANCEL: EndDialog(dialog, LOWORD(wParam)); return TRUE;
        default: return FALSE;
      }
    case WM_CLOSE:  // Alt+F4
      SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      return TRUE;
    default: return FALSE;
  }
}

}  // namespace

int AskOverwriteOrSaveAs(HWND owner) {
  const INT_PTR answer = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_OVERWRITE_OR_SAVE_AS), owner,
                                         OverwriteQuestionProc, 0);
  return answer == IDOK || answer == IDC_OVERWRITE ? int(answer) : IDCANCEL;
}

#include "ui/main_window_state.h"

#include <commctrl.h>

MainWindowState& MainState() {
  static MainWindowState state;
  return state;
}

bool IsToolbarButtonChecked(int command) {
  return SendMessageA(MainState().toolbar, TB_ISBUTTONCHECKED, WPARAM(command), 0) != 0;
}

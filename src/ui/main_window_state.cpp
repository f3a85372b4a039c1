#include "ui/main_window_state.h"

MainWindowState& MainState() {
  static MainWindowState state;
  return state;
}

#include "ui/fixed_texts.h"

#include <windows.h>

void DialogFilter::Convert(const wchar_t* pairs, size_t count) {
  // The last two bytes stay zero: a cut list still ends in an empty text.
  WideCharToMultiByte(CP_ACP, 0, pairs, int(count), text_, int(sizeof text_ - 2), nullptr, nullptr);
}

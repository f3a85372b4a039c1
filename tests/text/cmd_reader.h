// How cmd reads a line of a batch file, as far as running commands goes: a
// double-byte character of the reading code page is one character whatever
// its bytes, quotes toggle a quoted run, "^" takes the next character as it
// is, and "%" must come doubled in a line the script means literally.
#pragma once

#include <string>

#include "core/code_page.h"

// Where a line would let cmd do more than the script means: a character
// among & | < > ( ) outside quotes and not escaped, or a "%" that is not one
// of a pair. Empty when the line is inert.
inline std::string FindActiveCharacter(const std::string& line, const CodePage& reader) {
  bool quoted = false;
  for (size_t i = 0; i < line.size();) {
    const char c = line[i];
    if (reader.IsLead(c) && i + 1 < line.size()) {
      i += 2;
      continue;
    }
    if (c == '%') {
      if (i + 1 >= line.size() || line[i + 1] != '%') return "a lone % at byte " + std::to_string(i);
      i += 2;
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (!quoted && c == '^') {
      i += reader.IsLead(line[i + 1]) && i + 2 < line.size() ? 3 : 2;
      continue;
    }
    if (!quoted && std::string("&|<>()").find(c) != std::string::npos)
      return std::string("an active '") + c + "' at byte " + std::to_string(i);
    ++i;
  }
  return {};
}

#include "backup/template_format.h"

#include <cstring>

#include "core/code_page.h"

bool ParseEntryLine(const char* line, TemplateEntry* entry) {
  if (!line[0] || line[1] != ':') return false;
  entry->letter = line[0];
  entry->argument = line + 2;
  return true;
}

bool ParseEntryLineByCharacter(const char* line, TemplateEntry* entry) {
  if (!line[0]) return false;
  const char* second = NextChar(line);
  if (*second != ':') return false;
  entry->letter = second - line == 1 ? line[0] : '?';
  entry->argument = second + 1;
  return true;
}

TemplateEntryKind KindOfLetter(char letter) {
  switch (letter) {
    case 'F': return TemplateEntryKind::Files;
    case 'S': return TemplateEntryKind::FilesRecursive;
    case 'R': return TemplateEntryKind::Registry;
    case 'X': return TemplateEntryKind::Relation;
    case 'I': return TemplateEntryKind::Ini;
    default: return TemplateEntryKind::Unset;
  }
}

int ImageIndexOfKind(TemplateEntryKind kind) {
  switch (kind) {
    case TemplateEntryKind::Files: return 1;
    case TemplateEntryKind::FilesRecursive: return 2;
    case TemplateEntryKind::Registry: return 3;
    case TemplateEntryKind::Relation: return 4;
    case TemplateEntryKind::Ini: return 5;
    case TemplateEntryKind::Unset: break;
  }
  return 0;
}

const char* PrefixOfImageIndex(int imageIndex) {
  static const char* const kPrefixes[] = {"?:", "F:", "S:", "R:", "X:", "I:"};
  return imageIndex >= 1 && imageIndex <= 5 ? kPrefixes[imageIndex] : "?:";
}

bool IsSafeTemplateDirectory(const char* directory) {
  if (directory[0] == '\\') return false;  // the root of the drive, or a UNC path
  const char* componentStart = directory;
  for (const char* p = directory;; p = NextChar(p)) {
    const unsigned char c = static_cast<unsigned char>(*p);
    // What a file name cannot hold: a drive or stream (":"), wildcards,
    // quotes, redirections, "/" and control characters.
    if (c && (c < 0x20 || c == 0x7F || strchr("<>:\"/|?*", c))) return false;
    if (*p == '\\' || *p == '\0') {
      // The platform drops trailing dots and blanks, so ". ." and "..." climb too.
      int dots = 0;
      bool onlyDots = true;
      for (const char* q = componentStart; q < p; ++q) {
        if (*q == '.')
          ++dots;
        else if (*q != ' ')
          onlyDots = false;
      }
      if (onlyDots && dots >= 2) return false;
      if (!*p) return true;
      componentStart = p + 1;
    }
  }
}

// The template file: three header lines, then one entry per line.
#pragma once

enum class TemplateEntryKind { Unset, Files, FilesRecursive, Registry, Relation, Ini };

// A line is an entry when its second byte is ":"; the first byte is the kind
// letter and the argument starts two bytes in.
struct TemplateEntry {
  char letter;
  const char* argument;
};
bool ParseEntryLine(const char* line, TemplateEntry* entry);
// The editor's reading: the second *character* must be ":", so a double-byte
// first character followed by ":" makes an entry there, of the letter '?'.
bool ParseEntryLineByCharacter(const char* line, TemplateEntry* entry);

// Kind of a letter; letters are case-sensitive and unknown ones are Unset.
TemplateEntryKind KindOfLetter(char letter);
// The editor's image index of a kind (0 for Unset) and the line prefix
// written for an image index ("?:" for any unknown index).
int ImageIndexOfKind(TemplateEntryKind kind);
const char* PrefixOfImageIndex(int imageIndex);

// A directory line must name a folder inside the destination: no drive, no
// leading "\\" (which includes UNC paths), no ".." component, and nothing a
// file name cannot hold ("\\" only between nested folders).
bool IsSafeTemplateDirectory(const char* directory);

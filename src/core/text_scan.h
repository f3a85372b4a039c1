// Cutting text into lines and finding characters in it, by whole characters
// of the system's code page (code_page.h). Portable byte work: it builds
// natively for the sanitizers and the fuzzer.
#pragma once

#include <cstddef>

// Destructive line cutter: terminates the line inside the text, advances the
// cursor and returns the line; a last line without a line end is not
// returned. LF, CR LF and a lone CR end a line.
char* TakeLine(char** cursor);
// Non-destructive stepper: moves over one line and returns its start; counts
// an unterminated last line too.
char* NextLine(const char** cursor);

// Just after the last "\\", or the start of s when it has none.
char* FindFileNamePart(char* s);
const char* FindFileNamePart(const char* s);
char* FindLastChar(char* s, char c);
const char* FindLastChar(const char* s, char c);
// The first c; for c = 0 the terminator.
char* FindChar(char* s, char c);
const char* FindChar(const char* s, char c);
// "\\" after a non-empty text that lacks one (s has room for it): 1, or 0.
int AddTrailingSeparator(char* s);
// Removes a last "\\": 1, or 0 when there is none.
int RemoveTrailingSeparator(char* s);

// REGEDIT4 text of registry values: pure byte work, no registry access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/memory.h"

// Appends text with every "\\" doubled and every "\"" escaped; the trail
// byte of a double-byte character is left alone.
void EscapeRegString(TextBuffer* out, const char* text, size_t length);

// Appends one value line, CR LF included: the name part ("@=" for the default
// value) and the data part in the form that imports back to the same type and
// bytes. The name must fit one line: no CR or LF, whole characters
// (FitsValueLine).
void AppendValueLine(TextBuffer* out, const char* name, uint32_t type, const uint8_t* data, uint32_t size);

// A key or value name that a line of the file carries as it is: no line
// break, which would end the line and let the rest read as a line of its
// own, and whole characters of the code page.
bool FitsValueLine(const char* name, size_t length);

// Appends the deletion line and the section line of a key.
void AppendKeyHeader(TextBuffer* out, const char* fullKeyName);

// The numbered message catalogue, in the language the platform's resource
// loader picks for the user.
#pragma once

#include "message_ids.h"

// Text for id, owned by the catalogue for the life of the process; the
// fallback marker when the active table has none; null when memory runs out.
const char* LoadMessage(int id);
void FreeMessages();

extern const char kNoStringResource[];

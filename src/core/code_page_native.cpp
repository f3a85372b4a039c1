#include "core/code_page.h"

// Natively there is no system code page to ask: single-byte, until a test
// sets another.
CodePage SystemCodePage() { return CodePage(1252, {}); }

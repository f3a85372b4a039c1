#include <windows.h>

#include "core/code_page.h"

CodePage SystemCodePage() {
  const UINT number = GetACP();
  CodePage codePage(number, {});
  CPINFO info = {};
  if (!GetCPInfo(number, &info)) return codePage;
  // Pairs of inclusive ranges, ended by two zero bytes.
  for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i]; i += 2)
    codePage.AddLeads({info.LeadByte[i], info.LeadByte[i + 1]});
  return codePage;
}

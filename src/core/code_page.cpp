#include "core/code_page.h"

namespace {

// Each thread's own: an export switches it to UTF-8 while it escapes Unicode
// text, and its helper threads escape text meanwhile.
CodePage& Current() {
  static thread_local CodePage current = SystemCodePage();
  return current;
}

}  // namespace

CodePage::CodePage(unsigned number, std::initializer_list<LeadRange> leads) : number_(number) {
  for (const LeadRange& range : leads) AddLeads(range);
}

void CodePage::AddLeads(LeadRange range) {
  for (unsigned b = range.first; b <= range.last; ++b) lead_[b] = true;
}

bool CodePage::IsWellFormed(const char* s, size_t n) const {
  for (size_t i = 0; i < n; ++i) {
    if (!IsLead(s[i])) continue;
    if (i + 1 >= n || !IsTrail(s[i + 1])) return false;
    ++i;
  }
  return true;
}

const CodePage& TextCodePage() { return Current(); }

void SetTextCodePage(const CodePage& codePage) { Current() = codePage; }

CodePage ShiftJisCodePage() { return CodePage(932, {{0x81, 0x9F}, {0xE0, 0xFC}}); }

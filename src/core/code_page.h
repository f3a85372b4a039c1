// The lead bytes of a multibyte code page. Text is 8-bit in the system's
// code page (Shift-JIS on Japanese systems); every scan steps by whole
// characters, so the trail byte of a double-byte character, which may equal
// "\\" or "|", is never taken for one. Portable: the system's table comes
// from the platform in the program and is fixed in native builds.
#pragma once

#include <cstddef>
#include <initializer_list>

class CodePage {
 public:
  struct LeadRange {
    unsigned char first, last;
  };
  // A code page whose lead bytes are the given ranges (none: single-byte).
  CodePage(unsigned number, std::initializer_list<LeadRange> leads);
  void AddLeads(LeadRange range);
  unsigned number() const { return number_; }
  bool IsLead(char c) const { return lead_[static_cast<unsigned char>(c)]; }
  // A byte that can follow a lead byte: no double-byte code page has a trail
  // byte below 0x40, so a line end, a quote or "%" always stands alone.
  static bool IsTrail(char c) { return static_cast<unsigned char>(c) >= 0x40 && c != 0x7F; }
  // The character after p: two bytes on for a lead byte with a trail byte
  // after it, one otherwise, none at the terminator.
  const char* Next(const char* p) const { return !*p ? p : IsLead(*p) && IsTrail(p[1]) ? p + 2 : p + 1; }
  char* Next(char* p) const { return const_cast<char*>(Next(static_cast<const char*>(p))); }
  // True when every lead byte of the n bytes has its trail byte: text that
  // reads the same to every program of this code page.
  bool IsWellFormed(const char* s, size_t n) const;

 private:
  unsigned number_;
  bool lead_[256] = {};
};

// The system's code page; text scans use it. Set once at start in tests of
// the portable code (natively the default is single-byte).
const CodePage& TextCodePage();
void SetTextCodePage(const CodePage& codePage);
// The code page of the system the program runs on (code_page_system.cpp on
// Windows, a single-byte one natively).
CodePage SystemCodePage();
// Shift-JIS, for native tests and fuzzing.
CodePage ShiftJisCodePage();

inline const char* NextChar(const char* p) { return TextCodePage().Next(p); }
inline char* NextChar(char* p) { return TextCodePage().Next(p); }

// Several fields checked at once: CHECK(Values{a, b} == Values{1, 2}) prints
// every field when one differs, where CHECK((a == 1 && b == 2)) prints "false".
#pragma once

#include <doctest.h>

#include <string>
#include <vector>

using Values = std::vector<long long>;

namespace doctest {
template <>
struct StringMaker<Values> {
  static String convert(const Values& values) {
    std::string text = "{";
    for (long long v : values) text += (text.size() > 1 ? ", " : "") + std::to_string(v);
    return (text + "}").c_str();
  }
};
}  // namespace doctest

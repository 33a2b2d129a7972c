// MatchesRegex with one syntax (ECMAScript, std::regex) on every system:
// GoogleTest's own regular expressions are POSIX ones on Linux but a reduced
// syntax without bracket expressions on Windows, where "[0-9]+" is an error.
#pragma once

#include <gmock/gmock.h>

#include <regex>
#include <string>

namespace vttest {

MATCHER_P(MatchesRegex, pattern, "matches regular expression \"" + std::string(pattern) + "\"") {
  return std::regex_match(std::string(arg), std::regex(std::string(pattern)));
}

}  // namespace vttest

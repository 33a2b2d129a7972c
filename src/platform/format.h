// Format: printf into a std::string of the length the text needs. The one
// helper of every layer that builds a status line, a box text or a log line
// from a format (the byte rates of the transfers, the result record's
// fields, the readers' fault texts).
#pragma once

#include <string>

[[gnu::format(printf, 1, 2)]] std::string Format(const char* format, ...);

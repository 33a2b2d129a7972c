// The value of one hexadecimal digit of an S-record or of a loader's dump
// text. Used by the firmware readers, the image reader and the pre-flight
// check, so that all of them accept exactly the same digits.
#pragma once

// 0..15, or -1 when c is not a hexadecimal digit (either case).
constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

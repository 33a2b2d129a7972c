// Family codes of the scanners, as a panel's handshake reads them from the
// loader's banner. Every choice of a run that depends on the scanner (files,
// single pass or blocks, dump range, special block place) is made from the
// code of the panel that identified it.
#pragma once

constexpr int kFamilyMV2 = 2;
constexpr int kFamilyQZ500 = 5;
constexpr int kFamilyQZ600 = 6;

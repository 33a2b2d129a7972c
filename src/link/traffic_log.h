// The traffic log of a port: received blocks and run headers, in three files
// "<LogPath>/LOG<port>.000..002" that rotate at 307200 bytes.
#pragma once

#include <cstddef>
#include <string>

class CCommDialog;

constexpr unsigned kLogRotateBytes = 307200;

// Builds the file name from the current index and opens a new, empty file.
void InitLogFile(CCommDialog* panel);
// Appends a block; FALSE when no file is open or the write failed.
bool WriteLog(CCommDialog* panel, const void* data, size_t length);
// The dated run header written at every Start of a logging port.
std::string FormatLogHeader();
// Writes the run header (Start, while the receiver is parked).
void WriteLogHeader(CCommDialog* panel);

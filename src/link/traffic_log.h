// The traffic log of a port: received blocks and run headers, in three files
// "<LogPath>/LOG<port>.000..002" that rotate at 307200 bytes.
#pragma once

#include <cstddef>
#include <string>

class PortSession;
class RunReporter;

constexpr unsigned kLogRotateBytes = 307200;

// Builds the file name from the current index and opens a new, empty file.
void InitLogFile(PortSession& session, RunReporter& reporter);
// Appends a block; FALSE when no file is open or the write failed.
bool WriteLog(PortSession& session, RunReporter& reporter, const void* data, size_t length);
// The dated run header written at every Start of a logging port.
std::string FormatLogHeader();
// Writes the run header (Start, while the receiver is parked).
void WriteLogHeader(PortSession& session, RunReporter& reporter);

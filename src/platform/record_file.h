// Appending one line to a shared record file (results.csv): the file may sit
// in a log folder that other people and other stations write to, and the
// desktop station and a vantorel-cli may append to it at the same moment.
//
// Called by the result record (app/result_log). Backends: posix/ (O_APPEND,
// O_NOFOLLOW, fstat, flock) and win32/ (FILE_APPEND_DATA, a reparse-point
// and file-type check, LockFileEx).
#pragma once

#include <string>

namespace platform {

// Appends text to the regular file at path, creating it when missing, and
// puts header before it when the file is empty. The file is opened without
// following a symbolic link and only if it is a regular file; it is locked
// against other processes from the look at its size to the end of the write,
// so two of them starting a new file write one header; and the bytes go in
// one write, so a process ended in the middle of it never leaves half a line
// for the next one to join. False with the reason in error.
bool AppendToRecordFile(const std::string& path, const std::string& header,
                        const std::string& text, std::string& error);

}  // namespace platform

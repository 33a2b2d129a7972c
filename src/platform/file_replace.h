// Replacing a small file whole: the settings file is written this way, so
// that a full disk, a crash or a power loss in the middle of a save leaves
// the old file as it was, and a reader that opens it meanwhile sees either
// the old file or the new one, never half of each.
//
// Called by the INI store (app/ini_file) when it saves. Backends: posix/
// (a temporary file, fsync, rename) and win32/ (a temporary file,
// FlushFileBuffers, MoveFileEx with MOVEFILE_REPLACE_EXISTING).
#pragma once

#include <string>

namespace platform {

// Writes content to a temporary file in path's folder, flushes it to the
// disk and puts it in path's place in one step. A file already at path keeps
// its permissions. False, with the system's description of what failed in
// error, when any step fails; the file at path is then untouched and the
// temporary file is gone.
bool ReplaceFileContents(const std::string& path, const std::string& content,
                         std::string& error);

}  // namespace platform

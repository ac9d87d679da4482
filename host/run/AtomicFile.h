// Writing whole files so that a failure never leaves a cut-off one, and
// writing to standard output with an honest answer about failure.
#pragma once

#include <string>

namespace tarvok {

// Writes content to path through a temporary file beside it (".NAME.tmp",
// created afresh, never through a link), flushed to the disk and then
// renamed over path: path holds either its earlier content or all of the
// new one, never a piece. A link, device, FIFO or directory at path is
// refused (tarvok::exports::WriteFileAtomically).
// Throws std::runtime_error "cannot write PATH: REASON" with the system's
// reason ("No space left on device"); the temporary file is removed then.
void WriteFileAtomically(const std::string& path, const std::string& content);

// The temporary name WriteFileAtomically uses for a file named name.
std::string TemporaryFileName(const std::string& name);

// Writes text to standard output and flushes it. Returns "" on success, or
// the system's reason for a failed write. A reader that went away (EPIPE)
// is not a failure: the results are in the output directory all the same.
std::string WriteStandardOutput(const std::string& text);

}  // namespace tarvok

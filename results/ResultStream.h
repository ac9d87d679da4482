// One result file being written, under one of two rules for failures.
#pragma once

#include <cstdio>
#include <string>

// How the writers of results/ meet a failure.
//  Classic: as the C face documents it: a failed open of a whole-run file
//    is fatal, of a per-cluster file or index list reported in the perror
//    form and skipped; write errors after a successful open go unchecked.
//  Every: every failed open, write, flush and close throws Error "cannot
//    write PATH: REASON" with the system's reason (ENOSPC: "No space left on
//    device"), and a file opened afresh is removed then, so nothing cut off
//    stays behind. The command-line program writes this way.
enum class WriteChecks { Classic, Every };

class ResultStream {
 public:
  // Opens path with mode ("w" or "a"). A failed open throws under Every;
  // under Classic the stream is left closed (IsOpen false, errno as fopen
  // left it) for the caller's classic handling.
  ResultStream(const std::string& path, const char* mode, WriteChecks checks);
  // Closes a stream still open, unchecked (after a failure elsewhere).
  ~ResultStream();
  ResultStream(const ResultStream&) = delete;
  ResultStream& operator=(const ResultStream&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }
  void Put(const std::string& text);
  // Sends what is buffered to the system (clusterlengths.txt keeps each
  // finished pass's line there at once).
  void Flush();
  void Close();

 private:
  [[noreturn]] void Fail(int error);

  std::string path_;
  std::FILE* file_ = nullptr;
  WriteChecks checks_;
  bool created_ = false;  // opened with "w": removed on failure
};

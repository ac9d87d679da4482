#include "results/ResultStream.h"

#include <cerrno>
#include <cstring>

#include "base/Error.h"

ResultStream::ResultStream(const std::string& path, const char* mode, WriteChecks checks)
    : path_(path), file_(std::fopen(path.c_str(), mode)), checks_(checks) {
  if (file_ == nullptr && checks_ == WriteChecks::Every) Fail(errno);
  created_ = file_ != nullptr && mode[0] == 'w';
}

ResultStream::~ResultStream() {
  if (file_ != nullptr) std::fclose(file_);
}

void ResultStream::Put(const std::string& text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() && checks_ == WriteChecks::Every) Fail(errno);
}

void ResultStream::Flush() {
  errno = 0;
  if (std::fflush(file_) != 0 && checks_ == WriteChecks::Every) Fail(errno);
}

void ResultStream::Close() {
  errno = 0;
  const int status = std::fclose(file_);
  file_ = nullptr;
  if (status != 0 && checks_ == WriteChecks::Every) Fail(errno);
}

void ResultStream::Fail(int error) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (created_) std::remove(path_.c_str());
  throw tarvok::Error("cannot write " + path_ + ": " + (error != 0 ? std::strerror(error) : "write failed"));
}

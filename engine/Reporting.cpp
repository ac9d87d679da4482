#include "engine/Reporting.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

int monitorMode = 0;

std::string VFormat(const char* format, va_list args) {
  // Lines usually fit the 64-byte buffer; longer ones get a buffer of their
  // own size so that nothing is cut or written past the end.
  char line[64];
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(line, sizeof line, format, args);
  std::string text;
  if (length < 0) {
    text.clear();
  } else if (static_cast<size_t>(length) < sizeof line) {
    text.assign(line, static_cast<size_t>(length));
  } else {
    std::vector<char> whole(static_cast<size_t>(length) + 1);
    std::vsnprintf(whole.data(), whole.size(), format, again);
    text.assign(whole.data(), static_cast<size_t>(length));
  }
  va_end(again);
  return text;
}

// One write per line: a line is never split by another thread's output.
void WriteMonitorLine(std::string text) {
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

void SetMonitorMode(int flag) { monitorMode = flag != 0 ? 1 : 0; }

int MonitorMode() { return monitorMode; }

void MonitorLog(const char* format, ...) {
  if (!monitorMode) return;
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  WriteMonitorLine(text);
}

std::string FormatMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  return text;
}

void FatalError(const char* message) {
  // A failure on a worker thread and one on the calling thread must not
  // both report: the first one reports and ends the process, any later one
  // waits here until the process is gone.
  static std::mutex reporting;
  reporting.lock();
  if (monitorMode) {
    MonitorLog("%s", kMonitorAppTerminated);
    MonitorLog("%s %s", kMonitorFatal, message);
  } else {
    std::fprintf(stdout, "%s\n", message);
    std::fflush(stdout);
  }
  std::exit(1);
}

void FatalFileError(const char* operation, const char* path) {
  const char* reason = std::strerror(errno);
  FatalError(FormatMessage("%s(\"%s\"): %s\n", operation, path, reason).c_str());
}

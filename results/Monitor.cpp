#include "results/Monitor.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

int monitorMode = 0;

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
  std::string text = tarvok::VFormatMessage(format, args);
  va_end(args);
  WriteMonitorLine(text);
}

void ReportFailure(const char* message) {
  if (monitorMode) {
    MonitorLog("%s", kMonitorAppTerminated);
    MonitorLog("%s %s", kMonitorFatal, message);
  } else {
    std::fprintf(stdout, "%s\n", message);
    std::fflush(stdout);
  }
}

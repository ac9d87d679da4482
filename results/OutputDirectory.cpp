#include "results/OutputDirectory.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

namespace {

const char* const kDefaultDirectory = "output/";

std::string outputDirectory = kDefaultDirectory;
bool directoryResolved = false;

}  // namespace

const char* OutputDirectory() {
  if (directoryResolved) return outputDirectory.c_str();
  const char* value = std::getenv("TVOUTPUT");
  if (value != nullptr) {
    if (IsDirectory(value)) {
      outputDirectory = value;
    } else {
      std::fprintf(stderr,
                   "Environment variable \"%s\" does not refer to                         a directory. "
                   "Using default path <%s> instead.",
                   "TVOUTPUT", outputDirectory.c_str());
      std::fputs("\a", stdout);
      std::fflush(stdout);
    }
  }
  directoryResolved = true;
  return outputDirectory.c_str();
}

int IsDirectory(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode) ? 1 : 0;
}

int IsRegularFile(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISREG(info.st_mode) ? 1 : 0;
}

std::string OutputPath(const char* fileName) {
  std::string path = OutputDirectory();
  path += '/';
  path += fileName;
  return path;
}

void ResetOutputDirectoryForTesting() {
  outputDirectory = kDefaultDirectory;
  directoryResolved = false;
}

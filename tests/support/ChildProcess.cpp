#include "tests/support/ChildProcess.h"

#include "base/Error.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "tests/support/TempDir.h"

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

ChildResult RunInChild(const std::function<void()>& body) {
  TempDir capture;
  std::string outPath = capture.File("stdout");
  std::string errPath = capture.File("stderr");
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0) _exit(127);
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    body();
    std::fflush(nullptr);
    _exit(0);
  }
  ChildResult result;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    result.exitStatus = WEXITSTATUS(status);
  }
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

std::string ErrorMessage(const std::function<void()>& body) {
  try {
    body();
  } catch (const tarvok::Error& error) {
    return error.what();
  }
  return "(no error)";
}

// A fresh directory under the system temporary directory, removed with
// everything in it when the object goes out of scope.
#pragma once

#include <set>
#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& content) const;

 private:
  std::string path_;
};

// The names in dir (not "." and ".."), sorted; empty when it cannot be read.
std::set<std::string> DirectoryEntries(const std::string& dir);

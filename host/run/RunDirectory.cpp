#include "run/RunDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "run/AtomicFile.h"
#include "present/FigureFiles.h"
#include "present/OutputGuide.h"
#include "base/ResultNames.h"
#include "exports/Exports.h"
#include "run/Runner.h"

namespace tarvok {

namespace fs = std::filesystem;

namespace {

// What stands at path, when it is not what tarvok writes there (a regular
// file, or a real folder for the figures): "a symbolic link", "a device",
// ...; "" when it is.
std::string NotOurKind(const std::string& path, bool folder) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return "";
  if (S_ISLNK(info.st_mode)) return "a symbolic link";
  if (folder) return S_ISDIR(info.st_mode) ? "" : "not a folder";
  if (S_ISREG(info.st_mode)) return "";
  if (S_ISDIR(info.st_mode)) return "a folder";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "a device";
  if (S_ISFIFO(info.st_mode)) return "a FIFO";
  return "not a regular file";
}

// Whole-run files of the library and of tarvok. Add a name here when a
// new file joins the results; a file missing here would be left stale by
// a re-run and counted as foreign.
const char* const kRunFiles[] = {
    tarvok::kRowLabelsFile, tarvok::kColumnLabelsFile, tarvok::kClusterLabelListFile,
    tarvok::kClusterListFile, tarvok::kClusterLengthsFile, tarvok::kOrigMatrixFile,
    "glabels.txt", "vlabels.txt", "elabels.txt", "pclabels.txt",  // the library's index lists
    "classes.txt", "summary.tsv", "summary.json", "report.html", kOutputGuideFile, kRowSymbolsFile,
    tarvok::exports::kSymbolGmtName,
};

// Stems of the per-cluster files, tarvok::ClusterFileName(stem, i).
const char* const kClusterStems[] = {"gap", "variance", "cluster", "clabels", "eigen", "pc"};

bool IsClusterFileName(const std::string& name) {
  for (const char* stem : kClusterStems) {
    const std::size_t length = std::strlen(stem);
    if (name.compare(0, length, stem) != 0 || name.size() < length + 5 + 4) continue;
    if (name.compare(name.size() - 4, 4, ".txt") != 0) continue;
    std::string digits = name.substr(length, name.size() - length - 4);
    bool allDigits = digits.find_first_not_of("0123456789") == std::string::npos;
    // The number as ClusterFileName writes it: five digits at least, no
    // leading zero beyond those.
    if (allDigits && (digits.size() == 5 || digits[0] != '0')) return true;
  }
  return false;
}

bool IsResultFileName(const std::string& name) {
  for (const char* file : kRunFiles) {
    if (name == file) return true;
  }
  for (const std::string& file : tarvok::exports::ExportFileNames()) {
    if (name == file) return true;
  }
  // The CDT takes the table's name, which differs from run to run.
  const std::string cdt = ".cdt";
  if (name.size() > cdt.size() && name[0] != '.' && name.compare(name.size() - cdt.size(), cdt.size(), cdt) == 0) {
    return true;
  }
  return IsClusterFileName(name);
}

bool IsTemporaryFileName(const std::string& name) {
  const std::string prefix = ".", suffix = ".tmp";
  if (name.size() <= prefix.size() + suffix.size() || name[0] != '.' ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  std::string inner = name.substr(1, name.size() - 1 - suffix.size());
  return TemporaryFileName(inner) == name && IsResultFileName(inner);
}

std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  if (error) throw std::runtime_error(fmt::format("cannot list output directory {}: {}", dir.string(), error.message()));
  return names;
}

}  // namespace

bool ReplacedByRun(const std::string& name) {
  const std::string figures = std::string(kFigureDirectory) + "/";
  if (name.compare(0, figures.size(), figures) == 0) return IsFigureFileName(name.substr(figures.size()));
  return IsRunFileName(name);
}

bool IsRunFileName(const std::string& name) {
  return name == kLockFileName || IsResultFileName(name) || IsTemporaryFileName(name);
}

RunDirectory::RunDirectory(const std::string& dir, bool force, const std::vector<InputFile>& inputs) {
  if (dir.empty()) throw std::runtime_error("the output directory must not be an empty name");
  try {
    path_ = PhysicalDirectory(dir, true);
  } catch (const std::runtime_error& error) {
    throw std::runtime_error(fmt::format("output {}", error.what()));
  }
  const fs::path path(path_);
  if (access(path_.c_str(), W_OK | X_OK) != 0) {
    throw std::runtime_error(fmt::format("output directory {} is not writable: {}", dir, std::strerror(errno)));
  }

  // A link, device or FIFO under one of our names (or something else in the
  // place of the figures folder) would lead a write or a removal elsewhere:
  // such a directory is not ours, --force or not.
  for (const std::string& name : Entries(path)) {
    if (!IsRunFileName(name) && name != kFigureDirectory) continue;
    const std::string what = NotOurKind(path_ + "/" + name, name == kFigureDirectory);
    if (!what.empty()) {
      throw std::runtime_error(fmt::format(
          "output directory {} is not tarvok's: \"{}\" is {}, where tarvok keeps {}; choose another --out",
          dir, name, what, name == kFigureDirectory ? "a folder of figures" : "a file"));
    }
  }
  // Foreign files first, so that a refused directory gains not even the lock file.
  std::vector<std::string> foreign;
  for (const std::string& name : Entries(path)) {
    if (!IsRunFileName(name) && !(name == kFigureDirectory && HoldsOnlyFigureFiles(path_))) {
      foreign.push_back(name);
    }
  }
  if (!foreign.empty() && !force) {
    throw std::runtime_error(fmt::format(
        "output directory {} holds {} that tarvok did not write (such as \"{}\"); choose a new or empty "
        "directory with --out, or add --force to write there anyway",
        dir, foreign.size() == 1 ? std::string("1 file") : fmt::format("{} files", foreign.size()),
        foreign.front()));
  }
  RefuseReplacingInputs(path_, ReplacedByRun, inputs);

  try {
    lock_ = std::make_unique<DirectoryLock>(path_);
  } catch (const DirectoryInUse& busy) {
    throw std::runtime_error(fmt::format(
        "output directory {} is in use by another tarvok run{}; wait for it to end or choose another --out", dir,
        busy.holder.empty() ? std::string() : fmt::format(" (process {})", busy.holder)));
  }

  RemoveFigureFiles(path_);
  std::error_code error;
  for (const std::string& name : Entries(path)) {
    if (name == kLockFileName || !IsRunFileName(name)) continue;
    fs::remove(path / name, error);
    if (error) {
      throw std::runtime_error(
          fmt::format("cannot remove {} left by an earlier run: {}", (path / name).string(), error.message()));
    }
  }
}

int RunDirectory::CountResultFiles() const {
  int count = 0;
  for (const std::string& name : Entries(path_)) {
    if (IsResultFileName(name)) ++count;
  }
  std::error_code error;
  for (fs::directory_iterator it(fs::path(path_) / kFigureDirectory, error), end; !error && it != end;
       it.increment(error)) {
    count += IsFigureFileName(it->path().filename().string()) && it->path().filename().string()[0] != '.';
  }
  return count;
}

}  // namespace tarvok

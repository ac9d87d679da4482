#include "exports/Exports.h"

#include "exports/Fields.h"

#include <cerrno>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace tarvok::exports {

namespace {

[[noreturn]] void Disagree(const std::string& what) { throw std::invalid_argument(what); }

void CheckWidth(const std::vector<double>& row, size_t samples, const std::string& what) {
  if (row.size() != samples) {
    Disagree(what + " holds " + std::to_string(row.size()) + " values for " + std::to_string(samples) +
             " samples");
  }
}

// Every gene of c names a row of the table's genes: a record with table
// genes must say where each clustered gene is among them.
void CheckTableRows(const ClusterExport& c, size_t genes, const std::string& name) {
  if (c.tableRows.empty() && genes == 0) return;
  if (c.tableRows.size() != c.genes.size()) {
    Disagree(name + " holds " + std::to_string(c.genes.size()) + " genes but " +
             std::to_string(c.tableRows.size()) + " table rows");
  }
  for (size_t row : c.tableRows) {
    if (row >= genes) {
      Disagree(name + " names table row " + std::to_string(row + 1) + " of " + std::to_string(genes));
    }
  }
}

}  // namespace

void CheckRecord(const ExportRecord& r) {
  const size_t samples = r.samples.size();
  if (samples == 0) Disagree("the record names no samples");
  if (r.clusters.empty()) Disagree("the record holds no clusters");
  if (!r.classes.empty() && r.classes.size() != samples) {
    Disagree("the record holds " + std::to_string(r.classes.size()) + " class names for " +
             std::to_string(samples) + " samples");
  }
  if (!r.values.empty()) {
    if (r.values.size() != r.genes.size()) {
      Disagree("the record holds " + std::to_string(r.values.size()) + " rows of values for " +
               std::to_string(r.genes.size()) + " genes");
    }
    for (size_t g = 0; g < r.values.size(); ++g) {
      CheckWidth(r.values[g], samples, "row of gene " + r.genes[g]);
    }
  }
  if (!r.symbols.empty() && r.symbols.size() != r.genes.size()) {
    Disagree("the record holds " + std::to_string(r.symbols.size()) + " symbols for " +
             std::to_string(r.genes.size()) + " genes");
  }
  for (size_t i = 0; i < r.clusters.size(); ++i) {
    const ClusterExport& c = r.clusters[i];
    const std::string name = "cluster " + std::to_string(i + 1);
    if (c.genes.empty()) Disagree(name + " holds no genes");
    CheckTableRows(c, r.genes.size(), name);
    if (c.scores.size() != c.genes.size() || c.rows.size() != c.genes.size()) {
      Disagree(name + " holds " + std::to_string(c.genes.size()) + " genes but " +
               std::to_string(c.scores.size()) + " scores and " + std::to_string(c.rows.size()) + " rows");
    }
    CheckWidth(c.component, samples, "the component of " + name);
    for (size_t j = 0; j < c.rows.size(); ++j) {
      CheckWidth(c.rows[j], samples, "row " + std::to_string(j + 1) + " of " + name);
    }
  }
}

double Projection(const std::vector<double>& row, const std::vector<double>& component) {
  double sum = 0.0;
  for (size_t s = 0; s < row.size() && s < component.size(); ++s) sum += row[s] * component[s];
  return sum;
}

void AppendExactNumber(std::string& out, double value) {
  if (!std::isfinite(value)) return;
  // The shortest digits that read back as value (to_chars, which ignores the
  // locale) are those of the first of "%.15g", "%.16g", "%.17g" that reads
  // back: 15 significant digits are further apart than a double's spacing,
  // so at most one lies within half a spacing of value, and where 16 or 17
  // are needed both pick the one nearest to value. Only the layout is
  // printf's: with P = max(15, digits), exponent X is written out when
  // X < -4 or X >= P, else the digits stand in fixed notation.
  char text[40];
  if (std::fabs(value) < std::numeric_limits<double>::min()) {
    // Below the normal range the spacing widens and several 15-digit
    // decimals may read back: printf's own choice, through to_chars.
    for (int digits = 15; digits <= 17; ++digits) {
      char* stop = std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits).ptr;
      double back = 0.0;
      std::from_chars(text, stop, back);
      if (back == value || digits == 17) {
        out.append(text, stop);
        return;
      }
    }
  }
  char* end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
  const char* p = text;
  if (*p == '-') out += *p++;
  char digits[20];
  int count = 0;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits[count++] = *p;
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+'), end, exponent);
  const int precision = count > 15 ? count : 15;
  if (exponent < -4 || exponent >= precision) {
    out += digits[0];
    if (count > 1) {
      out += '.';
      out.append(digits + 1, static_cast<size_t>(count - 1));
    }
    out += exponent < 0 ? "e-" : "e+";
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) out += '0';
    out += std::to_string(magnitude);
  } else if (exponent < 0) {
    out += "0.";
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out.append(digits, static_cast<size_t>(count));
  } else {
    const int whole = exponent + 1;
    if (count <= whole) {
      out.append(digits, static_cast<size_t>(count));
      out.append(static_cast<size_t>(whole - count), '0');
    } else {
      out.append(digits, static_cast<size_t>(whole));
      out += '.';
      out.append(digits + whole, static_cast<size_t>(count - whole));
    }
  }
}

std::string ExactNumber(double value) {
  std::string text;
  AppendExactNumber(text, value);
  return text;
}

bool IsPlaceholderSymbol(const std::string& symbol) {
  size_t start = symbol.find_first_not_of(" \t\r\n");
  return start == std::string::npos || symbol.compare(start, 2, "--") == 0;
}

std::vector<std::string> ExportFileNames(const std::string& cdtStem) {
  return {"clusters.gmt", "clusters.kgg", cdtStem + ".cdt", "clusters.gct"};
}

std::vector<std::string> ExportFileNames(const ExportRecord& r, const std::string& cdtStem) {
  std::vector<std::string> names = ExportFileNames(cdtStem);
  if (!r.symbols.empty()) names.push_back(kSymbolGmtName);
  return names;
}

namespace {

[[noreturn]] void FailWrite(const std::string& path, int error) {
  throw std::runtime_error("cannot write " + path + ": " + std::strerror(error));
}

// What stands at path, when it is something a write must not replace: a
// symbolic link (its target would be left stale, or followed), a device, a
// FIFO, a socket or a directory. "" for a regular file or nothing.
std::string NotReplaceable(const std::string& path) {
#if defined(_WIN32)
  std::error_code error;
  return std::filesystem::is_directory(path, error) ? "a directory" : "";
#else
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return "";
  if (S_ISLNK(info.st_mode)) return "a symbolic link";
  if (S_ISDIR(info.st_mode)) return "a directory";
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "a device";
  if (S_ISFIFO(info.st_mode)) return "a FIFO";
  return "not a regular file";
#endif
}

void CheckReplaceable(const std::string& path) {
  const std::string what = NotReplaceable(path);
  if (what == "a directory") FailWrite(path, EISDIR);
  if (!what.empty()) throw std::runtime_error("cannot write " + path + ": it is " + what + ", not a regular file");
}

// A new temporary beside path, written piece by piece. It is created
// afresh (a leftover of that name, or a link planted there, is removed
// first, never followed) and every write and the close are checked, so
// that a full disk is reported as such and nothing half written stays.
class Temporary {
 public:
  explicit Temporary(const std::string& path) : path_(path), name_(TemporaryName(path)) {
#if defined(_WIN32)
    file_ = std::fopen(name_.c_str(), "wb");
    if (file_ == nullptr) FailWrite(path_, errno);
#else
    unlink(name_.c_str());
    fd_ = open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ < 0) FailWrite(path_, errno);
#endif
  }
  ~Temporary() {
    if (!done_) Discard();
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;

  void Write(const std::string& text) {
#if defined(_WIN32)
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) Fail(errno);
#else
    for (size_t at = 0; at < text.size();) {
      ssize_t n = ::write(fd_, text.data() + at, text.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(n < 0 ? errno : EIO);
      at += static_cast<size_t>(n);
    }
#endif
  }
  // Sends the data to the disk: a full disk may only show then.
  void Sync() {
#if defined(_WIN32)
    if (std::fflush(file_) != 0) Fail(errno);
#else
    if (fsync(fd_) != 0 && errno != EINVAL) Fail(errno);
#endif
  }
  // Closes the file; its name, to be renamed into place.
  const std::string& Close() {
#if defined(_WIN32)
    const int status = std::fclose(file_);
    file_ = nullptr;
#else
    const int status = ::close(fd_);
    fd_ = -1;
#endif
    if (status != 0) Fail(errno);
    done_ = true;
    return name_;
  }

 private:
  [[noreturn]] void Fail(int error) {
    Discard();
    FailWrite(path_, error);
  }
  void Discard() {
#if defined(_WIN32)
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
#else
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
#endif
    std::remove(name_.c_str());
    done_ = true;
  }

  std::string path_, name_;
#if defined(_WIN32)
  std::FILE* file_ = nullptr;
#else
  int fd_ = -1;
#endif
  bool done_ = false;
};

using Writer = void (*)(const ExportRecord&, TextSink&);

// Writes r's file of writer to a temporary beside path, in pieces; returns
// the temporary's name.
std::string WriteTemporary(const std::string& path, const ExportRecord& r, Writer writer) {
  Temporary file(path);
  TextSink sink;
  sink.spill = [&file](const std::string& piece) { file.Write(piece); };
  writer(r, sink);
  sink.End();
  return file.Close();
}

void Rename(const std::string& temporary, const std::string& path) {
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    int error = errno;
    std::remove(temporary.c_str());
    FailWrite(path, error);
  }
}

}  // namespace

std::string TemporaryName(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + name + ".tmp";
}

void WriteFileAtomically(const std::string& path, const std::string& content, bool sync) {
  CheckReplaceable(path);
  Temporary file(path);
  file.Write(content);
  if (sync) file.Sync();
  Rename(file.Close(), path);
}

namespace {

// The writer of each file of ExportFileNames, in that order, and its format word.
const std::pair<const char*, Writer> kWriters[] = {{"gmt", &WriteGmt},
                                                   {"kgg", &WriteKgg},
                                                   {"cdt", &WriteCdt},
                                                   {"gct", &WriteGct},
                                                   {"symbol-gmt", &WriteSymbolGmt}};

}  // namespace

void WriteExport(const ExportRecord& r, const std::string& format, const std::string& path) {
  for (const auto& writer : kWriters) {
    if (format == writer.first) {
      CheckRecord(r);
      CheckReplaceable(path);
      Rename(WriteTemporary(path, r, writer.second), path);
      return;
    }
  }
  throw std::invalid_argument("no export format \"" + format + "\"; known: gmt, kgg, cdt, gct, symbol-gmt");
}

void WriteExports(const ExportRecord& r, const std::string& dir, const std::string& cdtStem) {
  CheckRecord(r);
  const std::vector<std::string> names = ExportFileNames(r, cdtStem);
  // Something else in a file's place would fail its rename (or be replaced)
  // after the others had been renamed: refuse it first.
  for (const std::string& name : names) CheckReplaceable(dir + "/" + name);
  std::vector<std::pair<std::string, std::string>> written;  // temporary, final path
  try {
    for (size_t k = 0; k < names.size(); ++k) {
      std::string path = dir + "/" + names[k];
      written.emplace_back(WriteTemporary(path, r, kWriters[k].second), path);
    }
  } catch (...) {
    for (const auto& file : written) std::remove(file.first.c_str());
    throw;
  }
  for (size_t k = 0; k < written.size(); ++k) {
    try {
      Rename(written[k].first, written[k].second);
    } catch (...) {
      for (size_t later = k + 1; later < written.size(); ++later) std::remove(written[later].first.c_str());
      throw;
    }
  }
}

}  // namespace tarvok::exports

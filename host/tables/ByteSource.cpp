#include "tables/ByteSource.h"

#include "base/HugePages.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace tarvok {

namespace {

constexpr std::size_t kChunk = 1 << 16;

// A file descriptor read to its end; standard input is read, never closed.
class FileSource : public ByteSource {
 public:
  explicit FileSource(const std::string& path) {
    if (IsStandardInput(path)) {
      fd_ = STDIN_FILENO;
      return;
    }
    do {
      fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) throw TableError(fmt::format("cannot open for reading: {}", std::strerror(errno)));
    owned_ = true;
  }
  ~FileSource() override {
    if (owned_) close(fd_);
  }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::size_t Read(char* buffer, std::size_t size) override {
    if (!peeked_.empty()) {
      std::size_t count = std::min(size, peeked_.size());
      std::memcpy(buffer, peeked_.data(), count);
      peeked_.erase(0, count);
      return count;
    }
    return ReadFd(buffer, size);
  }

  std::size_t SizeHint() const override {
    struct stat status {};
    if (fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) return 0;
    off_t at = lseek(fd_, 0, SEEK_CUR);
    off_t left = status.st_size - (at > 0 ? at : 0);
    return left > 0 ? static_cast<std::size_t>(left) + peeked_.size() : peeked_.size();
  }

  int Descriptor() const { return fd_; }

  // The first count bytes (fewer at the end of a short file), which Read
  // then hands out again. A pipe may deliver them one read at a time.
  const std::string& Peek(std::size_t count) {
    char buffer[16];
    while (peeked_.size() < count) {
      std::size_t got = ReadFd(buffer, std::min(sizeof buffer, count - peeked_.size()));
      if (got == 0) break;
      peeked_.append(buffer, got);
    }
    return peeked_;
  }

 private:
  std::size_t ReadFd(char* buffer, std::size_t size) {
    for (;;) {
      ssize_t count = read(fd_, buffer, size);
      if (count >= 0) return static_cast<std::size_t>(count);
      if (errno != EINTR) throw TableError(fmt::format("cannot read: {}", std::strerror(errno)));
    }
  }

  int fd_ = -1;
  bool owned_ = false;
  std::string peeked_;
};

}  // namespace


std::size_t MemorySource::Read(char* buffer, std::size_t size) {
  std::size_t count = std::min(size, bytes_.size() - at_);
  std::memcpy(buffer, bytes_.data() + at_, count);
  at_ += count;
  return count;
}

struct GzipSource::State {
  std::unique_ptr<ByteSource> compressed;
  z_stream stream{};
  std::string input;  // compressed bytes not yet taken by inflate
  bool end = false;   // the stream and every member ended
  bool inMember = true;
};

GzipSource::GzipSource(std::unique_ptr<ByteSource> compressed) : state_(new State) {
  state_->compressed = std::move(compressed);
  // 15 + 16: a gzip wrapper, the largest window.
  if (inflateInit2(&state_->stream, 15 + 16) != Z_OK) throw TableError("cannot start the gzip decoder");
}

GzipSource::~GzipSource() { inflateEnd(&state_->stream); }

std::size_t GzipSource::Read(char* buffer, std::size_t size) {
  State& s = *state_;
  while (!s.end && size > 0) {
    if (s.input.empty()) {
      s.input.resize(kChunk);
      s.input.resize(s.compressed->Read(s.input.data(), s.input.size()));
      if (s.input.empty()) {
        if (s.inMember) throw TableError("the gzip data end too early (the file is cut off)");
        s.end = true;
        break;
      }
    }
    if (!s.inMember) {
      // Another member follows, or trailing zero bytes some tools add.
      if (s.input.find_first_not_of('\0') == std::string::npos) {
        s.input.clear();
        continue;
      }
      if (!StartsWithGzipMagic(s.input) && s.input.size() >= 2) {
        throw TableError("bytes after the end of the gzip data are no gzip data");
      }
      inflateReset(&s.stream);
      s.inMember = true;
    }
    s.stream.next_in = reinterpret_cast<Bytef*>(s.input.data());
    s.stream.avail_in = static_cast<uInt>(s.input.size());
    s.stream.next_out = reinterpret_cast<Bytef*>(buffer);
    s.stream.avail_out = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    int status = inflate(&s.stream, Z_NO_FLUSH);
    s.input.erase(0, s.input.size() - s.stream.avail_in);
    std::size_t produced = std::min<std::size_t>(size, 1u << 30) - s.stream.avail_out;
    if (status == Z_STREAM_END) {
      s.inMember = false;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      throw TableError(fmt::format("the gzip data are damaged: {}",
                                   s.stream.msg != nullptr ? s.stream.msg : "inflate failed"));
    }
    if (produced > 0) return produced;
  }
  return 0;
}

bool StartsWithGzipMagic(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
         static_cast<unsigned char>(bytes[1]) == 0x8B;
}

namespace {

// file, uncompressed on the way when it is gzip.
std::unique_ptr<ByteSource> Uncompressed(std::unique_ptr<FileSource> file) {
  if (StartsWithGzipMagic(file->Peek(2))) return std::make_unique<GzipSource>(std::move(file));
  return file;
}

}  // namespace

std::unique_ptr<ByteSource> OpenInput(const std::string& path) {
  return Uncompressed(std::make_unique<FileSource>(path));
}

namespace {

// A buffer of capacity bytes that starts with the first used bytes of
// bytes; its pages are advised before they are first touched.
std::string Regrown(const std::string& bytes, std::size_t used, std::size_t capacity) {
  std::string larger;
  larger.reserve(capacity);
  AdviseHugePages(larger.data(), larger.capacity());
  larger.append(bytes, 0, used);
  larger.resize(larger.capacity());
  return larger;
}

}  // namespace

std::string ReadAll(ByteSource& source) {
  // Sized once for a file of known size (one byte more, to meet the end
  // without growing); else doubled when full. Touching fresh pages costs
  // more than the reading, so growth is rare and advised for huge pages.
  std::string bytes = Regrown("", 0, std::max(source.SizeHint() + 1, kChunk));
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) bytes = Regrown(bytes, used, 2 * bytes.size());
    std::size_t got = source.Read(bytes.data() + used, bytes.size() - used);
    if (got == 0) break;
    used += got;
  }
  bytes.resize(used);
  return bytes;
}

namespace {

// Files smaller than this are read: mapping saves little there.
constexpr std::size_t kBytesToMap = std::size_t{1} << 20;

// The one file mapped at a time, for the bus-error handler, and whether it
// was cut short. A second InputBytes while one is mapped reads its file.
std::atomic<const char*> mappedBegin{nullptr};
std::atomic<std::size_t> mappedSize{0};
std::atomic<bool> mappedCut{false};
std::uintptr_t pageSize = 4096;
struct sigaction busBefore {};

// A bus error inside the mapping means the file lost its pages (it was cut
// short): from the faulting page to the end, zero pages take their place,
// and the read goes on. Any other bus error gets the handling there was.
void OnBusError(int, siginfo_t* info, void*) {
  const char* begin = mappedBegin.load();
  const char* at = static_cast<const char*>(info->si_addr);
  const std::size_t size = mappedSize.load();
  if (begin != nullptr && at >= begin && at < begin + size) {
    const std::uintptr_t page = reinterpret_cast<std::uintptr_t>(at) & ~(pageSize - 1);
    const std::size_t rest = reinterpret_cast<std::uintptr_t>(begin) + size - page;
    void* zeros = mmap(reinterpret_cast<void*>(page), rest, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros != MAP_FAILED) {
      mappedCut.store(true);
      return;
    }
  }
  sigaction(SIGBUS, &busBefore, nullptr);  // the fault repeats and takes that course
}

}  // namespace

InputBytes::InputBytes(const std::string& path) {
  auto file = std::make_unique<FileSource>(path);
  // SizeHint is the size of a regular file (what was peeked included), 0
  // for anything else. Standard input is read: it may not start at its
  // file's beginning.
  if (!IsStandardInput(path) && !StartsWithGzipMagic(file->Peek(2)) && file->SizeHint() >= kBytesToMap) {
    Map(file->Descriptor(), file->SizeHint());
  }
  if (mapped_ == nullptr) read_ = ReadAll(*Uncompressed(std::move(file)));
}

void InputBytes::Map(int fd, std::size_t size) {
  const char* expected = nullptr;
  if (!mappedBegin.compare_exchange_strong(expected, reinterpret_cast<const char*>(1))) return;
  void* memory = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (memory == MAP_FAILED) {
    mappedBegin.store(nullptr);
    return;
  }
  struct sigaction handler {};
  handler.sa_sigaction = OnBusError;
  handler.sa_flags = SA_SIGINFO;
  sigemptyset(&handler.sa_mask);
  mappedCut.store(false);
  pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  mappedSize.store(size);
  mappedBegin.store(static_cast<const char*>(memory));
  sigaction(SIGBUS, &handler, &busBefore);
  mapped_ = static_cast<const char*>(memory);
  size_ = size;
}

InputBytes::~InputBytes() {
  if (mapped_ == nullptr) return;
  sigaction(SIGBUS, &busBefore, nullptr);
  munmap(const_cast<char*>(mapped_), size_);
  mappedSize.store(0);
  mappedBegin.store(nullptr);
}

void InputBytes::Check() const {
  if (mapped_ != nullptr && mappedCut.load()) {
    throw TableError("the file was cut short while it was read (another program changed it); read it again "
                     "once it is complete");
  }
}

std::string ReadWholeFile(const std::string& path) {
  std::unique_ptr<ByteSource> source = OpenInput(path);
  return ReadAll(*source);
}

void CheckTextEncoding(std::string& bytes) { bytes.erase(0, bytes.size() - CheckedText(bytes).size()); }

std::string_view CheckedText(std::string_view bytes) {
  auto starts = [&](const char* mark, std::size_t length) {
    return bytes.compare(0, length, mark, length) == 0;
  };
  const char* kind = nullptr;
  const char* family = "UTF-16";
  if (starts("\xFF\xFE\0\0", 4) || starts("\0\0\xFE\xFF", 4)) {
    kind = family = "UTF-32";
  } else if (starts("\xFF\xFE", 2)) {
    kind = "UTF-16 (little-endian)";
  } else if (starts("\xFE\xFF", 2)) {
    kind = "UTF-16 (big-endian)";
  } else if (bytes.size() >= 4) {
    // Without a mark, ASCII text in UTF-16 has a zero byte in every pair,
    // always on the same side.
    std::size_t pairs = std::min<std::size_t>(bytes.size() / 2, 256), zeros[2] = {0, 0};
    for (std::size_t i = 0; i < 2 * pairs; ++i) zeros[i % 2] += bytes[i] == '\0' ? 1 : 0;
    for (int side = 0; side < 2; ++side) {
      if (zeros[side] * 10 >= pairs * 8 && zeros[1 - side] * 10 <= pairs) kind = "UTF-16";
    }
  }
  if (starts("PK\x03\x04", 4) || starts("\xD0\xCF\x11\xE0", 4)) {
    throw TableError(
        "the file is a spreadsheet workbook (or another binary file), not a text table; save the sheet as "
        "\"Tab delimited text\" or \"CSV UTF-8\" and read that");
  }
  if (kind != nullptr) {
    throw TableError(fmt::format(
        "the file is {} text, which tarvok does not read; convert it to UTF-8 first, for example with "
        "\"iconv -f {} -t UTF-8 FILE > FILE-utf8.txt\" (spreadsheet programs write UTF-16 as "
        "\"Unicode text\"; save as \"CSV UTF-8\" or \"Tab delimited text\" instead)",
        kind, family));
  }
  if (starts("\xEF\xBB\xBF", 3)) bytes.remove_prefix(3);
  return bytes;
}

}  // namespace tarvok

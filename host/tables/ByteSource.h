// Where the bytes of an input come from: a file, standard input ("-"), or a
// gzip stream over either. Every reader of the host reads its input once,
// through ReadWholeFile, so a FIFO or a pipe (<(zcat t.gz)) works like a
// file and compressed files need no step of their own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "base/HugePages.h"
#include "tables/InputError.h"

namespace tarvok {

// A stream of bytes read front to back.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to size bytes into buffer. Returns the count, 0 only at the
  // end. Throws TableError when the bytes cannot be read.
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
  // How many bytes Read will give in all, when known beforehand (a regular
  // file's size); 0 when not. A hint for sizing buffers, never a promise.
  virtual std::size_t SizeHint() const { return 0; }
};

// The bytes of a string, for tests and fuzzing.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
  std::size_t Read(char* buffer, std::size_t size) override;

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

// The uncompressed bytes of a gzip stream read from another source. Members
// written one after another (cat a.gz b.gz) read as one stream; bytes after
// the last member that are no gzip member are an error.
class GzipSource : public ByteSource {
 public:
  explicit GzipSource(std::unique_ptr<ByteSource> compressed);
  ~GzipSource() override;
  GzipSource(const GzipSource&) = delete;
  GzipSource& operator=(const GzipSource&) = delete;
  std::size_t Read(char* buffer, std::size_t size) override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The two bytes that open every gzip member.
bool StartsWithGzipMagic(const std::string& bytes);

// Opens path ("-": standard input) as a source; a gzip stream, known by its
// first two bytes and not by its name, is uncompressed on the way. Throws
// TableError with the system's reason when the file cannot be opened.
std::unique_ptr<ByteSource> OpenInput(const std::string& path);

// Every byte of a source.
std::string ReadAll(ByteSource& source);

// Every byte of path, uncompressed when it is gzip ("-": standard input).
// The one whole-file reader of the host: tables, class files and the
// library's result files all come through here.
std::string ReadWholeFile(const std::string& path);

// Text from the bytes of a file: a UTF-8 byte-order mark is removed; UTF-16
// and UTF-32 text (by byte-order mark, or by the zero bytes between ASCII
// characters) is an error that says what the file is and how to convert it.
//   bytes (input/output) the file's bytes, the text afterwards
void CheckTextEncoding(std::string& bytes);
// The same check; returns the text, bytes without the byte-order mark.
std::string_view CheckedText(std::string_view bytes);

// The whole of an input, as ReadWholeFile gives it. A large, uncompressed
// regular file is mapped into memory read-only instead of copied: fresh
// memory to copy into costs more to touch than the reading itself. Should
// the file be cut short while it is mapped, its lost pages read as zero
// bytes (never a bus error) and Check says so.
class InputBytes {
 public:
  explicit InputBytes(const std::string& path);
  ~InputBytes();
  InputBytes(const InputBytes&) = delete;
  InputBytes& operator=(const InputBytes&) = delete;
  std::string_view View() const { return mapped_ != nullptr ? std::string_view(mapped_, size_) : read_; }
  bool Mapped() const { return mapped_ != nullptr; }
  // Throws TableError when the file was cut short while it was mapped.
  void Check() const;

 private:
  // Maps size bytes of the regular file fd, unless another is mapped or
  // the mapping fails (then mapped_ stays null).
  void Map(int fd, std::size_t size);

  std::string read_;
  const char* mapped_ = nullptr;
  std::size_t size_ = 0;
};


// Whether a path names standard input.
inline bool IsStandardInput(const std::string& path) { return path == "-"; }

}  // namespace tarvok

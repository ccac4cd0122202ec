#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace fc {

// Working memory of a read: a full raw file needs a few megabytes. Large buffers are mapped on
// 2 MiB boundaries and offered huge pages, which the system then hands over in one piece each
// instead of page by page; the contents start undefined.
class ReadBuffer {
 public:
  explicit ReadBuffer(std::size_t size);
  ReadBuffer(const ReadBuffer&) = delete;
  ReadBuffer& operator=(const ReadBuffer&) = delete;
  ~ReadBuffer();

  char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_;
  std::size_t mapped_ = 0;
  std::unique_ptr<char[]> owned_;
  char* data_ = nullptr;
};

// Where the pieces of a file's text come from, in order.
class PieceSource {
 public:
  struct Piece {
    char* data = nullptr;  // room() writable bytes lie before it
    std::size_t size = 0;  // 0 at the end of the text or after an error
    int error = 0;         // errno of a failed read
  };
  virtual ~PieceSource() = default;
  // The next piece. It and the piece taken before it stay untouched until the next call.
  virtual Piece Take() = 0;
  virtual std::size_t room() const = 0;
};

// Reads up to `size` bytes into `buffer`; returns the count, 0 at the end, -1 with errno set.
using ReadSome = std::function<ssize_t(char* buffer, std::size_t size)>;

// Pieces read one at a time when they are asked for.
std::unique_ptr<PieceSource> PiecesOnDemand(ReadSome read_some, std::size_t piece_size,
                                            std::size_t room);

// Pieces of a regular file read ahead on a thread of their own, so that the system's copying
// of the next piece overlaps the work on this one. Only for files whose reads always return:
// on a pipe or a terminal the thread could wait for input that nobody sends.
std::unique_ptr<PieceSource> PiecesReadAhead(int fd, std::size_t piece_size, std::size_t room);

// A file's text as one window that moves on through it: either text already in memory, or
// pieces from a source, so that a full raw file (13 MB) never has to sit in memory at once.
class ChunkedText {
 public:
  explicit ChunkedText(std::string_view text) : view_(text), at_end_(true) {}
  explicit ChunkedText(std::unique_ptr<PieceSource> pieces) : pieces_(std::move(pieces)) {}

  std::string_view view() const { return view_; }
  bool at_end() const { return at_end_; }
  int error() const { return error_; }
  // Bytes moved so far to join a line split between pieces.
  std::size_t copied() const { return copied_; }

  // Drops the text before `keep_from` and adds the next piece after the rest. Returns false
  // when nothing more can come (end of file or a read error).
  bool Refill(std::size_t keep_from);

 private:
  std::unique_ptr<PieceSource> pieces_;
  std::string joined_;  // a line longer than a piece's room, with the text after it
  std::string_view view_;
  bool at_end_ = false;
  int error_ = 0;
  std::size_t copied_ = 0;
};

}  // namespace fc

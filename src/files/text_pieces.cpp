#include "files/text_pieces.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "analysis/huge_pages.h"

namespace fc {

ReadBuffer::ReadBuffer(std::size_t size) : size_(std::max<std::size_t>(size, 1)) {
  if (size_ >= kHugePageBytes / 2) {
    const std::size_t mapped = HugePageRounded(size_);
    if (void* memory = MapOnHugePages(mapped)) {
      data_ = static_cast<char*>(memory);
      mapped_ = mapped;
      return;
    }
  }
  owned_.reset(new char[size_]);
  data_ = owned_.get();
}

ReadBuffer::~ReadBuffer() {
  if (mapped_ > 0) ::munmap(data_, mapped_);
}

namespace {

// Slots of room + piece bytes side by side in one buffer.
class Slots {
 public:
  Slots(std::size_t count, std::size_t piece_size, std::size_t room)
      : piece_size_(std::max<std::size_t>(piece_size, 1)),
        room_(room),
        stride_(room_ + piece_size_),
        buffer_(count * stride_) {}

  char* Piece(std::size_t index) const { return buffer_.data() + index * stride_ + room_; }
  std::size_t piece_size() const { return piece_size_; }
  std::size_t room() const { return room_; }

 private:
  std::size_t piece_size_;
  std::size_t room_;
  std::size_t stride_;
  ReadBuffer buffer_;
};

// Reads once, retrying an interrupted read. -1 with errno set on failure.
ssize_t ReadOnce(const ReadSome& read_some, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = read_some(buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

PieceSource::Piece Outcome(char* data, ssize_t n) {
  if (n < 0) return {data, 0, errno};
  return {data, static_cast<std::size_t>(n), 0};
}

class OnDemand final : public PieceSource {
 public:
  OnDemand(ReadSome read_some, std::size_t piece_size, std::size_t room)
      : read_some_(std::move(read_some)), slots_(2, piece_size, room) {}

  Piece Take() override {
    char* const data = slots_.Piece(next_);
    next_ ^= 1;  // the two slots take turns, so the piece before stays as it was
    return Outcome(data, ReadOnce(read_some_, data, slots_.piece_size()));
  }
  std::size_t room() const override { return slots_.room(); }

 private:
  ReadSome read_some_;
  Slots slots_;
  std::size_t next_ = 0;
};

class ReadAhead final : public PieceSource {
 public:
  ReadAhead(int fd, std::size_t piece_size, std::size_t room)
      : fd_(fd), slots_(kSlots, piece_size, room), pieces_(kSlots) {
    reader_ = std::thread([this] { Run(); });
  }
  ~ReadAhead() override {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    reader_.join();
  }

  Piece Take() override {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return read_ > taken_; });
    const Piece piece = pieces_[taken_ % kSlots];
    ++taken_;
    lock.unlock();
    changed_.notify_all();  // the slot two pieces back is free again
    return piece;
  }
  std::size_t room() const override { return slots_.room(); }

 private:
  // The consumer holds the last two pieces taken; the other slots are read ahead.
  static constexpr std::size_t kSlots = 4;

  void Run() {
    for (;;) {
      std::size_t index = 0;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || read_ + 2 < taken_ + kSlots; });
        if (stop_) return;
        index = read_ % kSlots;
      }
      char* const data = slots_.Piece(index);
      const Piece piece = Outcome(
          data,
          ReadOnce([this](char* buffer, std::size_t size) { return ::read(fd_, buffer, size); },
                   data, slots_.piece_size()));
      {
        const std::lock_guard lock(mutex_);
        pieces_[index] = piece;
        ++read_;
      }
      changed_.notify_all();
      if (piece.size == 0) return;  // the end, or an error: nothing follows
    }
  }

  const int fd_;
  Slots slots_;
  std::vector<Piece> pieces_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t read_ = 0;   // pieces the reader has finished
  std::size_t taken_ = 0;  // pieces handed over
  bool stop_ = false;
  std::thread reader_;  // last: it starts once everything it uses is there
};

}  // namespace

std::unique_ptr<PieceSource> PiecesOnDemand(ReadSome read_some, std::size_t piece_size,
                                            std::size_t room) {
  return std::make_unique<OnDemand>(std::move(read_some), piece_size, room);
}

std::unique_ptr<PieceSource> PiecesReadAhead(int fd, std::size_t piece_size, std::size_t room) {
  return std::make_unique<ReadAhead>(fd, piece_size, room);
}

bool ChunkedText::Refill(std::size_t keep_from) {
  if (at_end_) return false;
  const std::string_view kept = view_.substr(keep_from);
  const PieceSource::Piece piece = pieces_->Take();
  if (piece.size == 0) {
    error_ = piece.error;
    at_end_ = true;
    view_ = kept;  // still in the piece before, which the source leaves alone
    return false;
  }
  if (kept.size() <= pieces_->room()) {
    // The usual case: a part line, put in front of the piece that continues it.
    char* const start = piece.data - kept.size();
    if (!kept.empty()) std::memcpy(start, kept.data(), kept.size());
    copied_ += kept.size();
    view_ = std::string_view(start, kept.size() + piece.size);
    return true;
  }
  // A line longer than the room: it grows in a buffer of its own. The text before it is
  // dropped only once it is most of the buffer, so that no byte is moved again and again.
  std::size_t drop = 0;
  if (!joined_.empty() && kept.data() >= joined_.data() &&
      kept.data() < joined_.data() + joined_.size()) {
    drop = static_cast<std::size_t>(kept.data() - joined_.data());
    if (drop > joined_.size() / 2) {
      joined_.erase(0, drop);
      copied_ += joined_.size();
      drop = 0;
    }
  } else {
    joined_.assign(kept);
    copied_ += kept.size();
  }
  joined_.append(piece.data, piece.size);
  copied_ += piece.size;
  view_ = std::string_view(joined_).substr(drop);
  return true;
}

}  // namespace fc

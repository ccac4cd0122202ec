#pragma once

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace fc {

// An output stream buffer that writes to a file descriptor in large blocks and remembers the
// first write error, so that a full disk or a closed descriptor is reported rather than lost.
// After an error the stream goes bad and nothing more is written.
class DescriptorOutput : public std::streambuf {
 public:
  explicit DescriptorOutput(int fd, std::size_t block = 1 << 16);
  ~DescriptorOutput() override;

  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  bool WriteAll(const char* data, std::size_t size);
  bool Drain();

  int fd_;
  std::vector<char> block_;
  int error_ = 0;
};

// Flushes `out` and says whether everything written to it arrived; when not, prints a message
// naming the reason on `err`.
bool OutputDelivered(std::ostream& out, std::ostream& err);

}  // namespace fc

#include "cli/descriptor_output.h"

#include <cstring>
#include <string_view>

#include "files/atomic_file.h"

namespace fc {

DescriptorOutput::DescriptorOutput(int fd, std::size_t block) : fd_(fd), block_(block) {
  setp(block_.data(), block_.data() + block_.size());
}

DescriptorOutput::~DescriptorOutput() { Drain(); }

bool DescriptorOutput::WriteAll(const char* data, std::size_t size) {
  if (error_ == 0) error_ = WriteFully(fd_, std::string_view(data, size));
  return error_ == 0;
}

bool DescriptorOutput::Drain() {
  const bool written = WriteAll(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  setp(block_.data(), block_.data() + block_.size());
  return written;
}

DescriptorOutput::int_type DescriptorOutput::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize DescriptorOutput::xsputn(const char* text, std::streamsize count) {
  const auto size = static_cast<std::size_t>(count);
  if (size > static_cast<std::size_t>(epptr() - pptr())) {
    // Too much for the room left: send what is held, then the text itself if it is large.
    if (!Drain()) return 0;
    if (size >= block_.size()) return WriteAll(text, size) ? count : 0;
  }
  std::memcpy(pptr(), text, size);
  pbump(static_cast<int>(count));
  return count;
}

int DescriptorOutput::sync() { return Drain() ? 0 : -1; }

bool OutputDelivered(std::ostream& out, std::ostream& err) {
  out.flush();
  if (out) return true;
  const auto* descriptor = dynamic_cast<const DescriptorOutput*>(out.rdbuf());
  const int error = descriptor != nullptr ? descriptor->error() : 0;
  err << "Could not write to standard output"
      << (error != 0 ? ": " + ErrorText(error) : std::string()) << ".\n";
  return false;
}

}  // namespace fc

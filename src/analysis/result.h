#pragma once

#include <string>
#include <utility>
#include <variant>

namespace fc {

// How errors travel: a function that can fail returns Result<T>, or Status when it has no value.
// The error is the whole sentence the user is shown, ready for a message box or standard error;
// a caller may add a sentence of its own but never takes the text apart to decide anything.
// A caller that must tell failures apart gets a type that says so, not a text to compare.
struct Error {
  std::string message;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : content_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : content_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return content_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(content_); }
  const T& value() const& { return std::get<0>(content_); }
  T&& value() && { return std::get<0>(std::move(content_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const std::string& error() const { return std::get<1>(content_).message; }

 private:
  std::variant<T, Error> content_;
};

using Status = Result<std::monostate>;
inline Status Ok() { return Status(std::monostate{}); }

}  // namespace fc

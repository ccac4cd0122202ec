#pragma once

#include <string>
#include <string_view>

namespace fc {

// The window's caption, and the title of every message box that names none.
inline constexpr std::string_view kProgramTitle = "Veldmark Frequency Counter";

enum class MessageButtons { Ok, YesNoCancel, YesNo };
enum class MessageIcon { None, Exclamation, Critical };
enum class MessageAnswer { Ok, Yes, No, Cancel };

struct Message {
  std::string text;
  MessageButtons buttons = MessageButtons::Ok;
  MessageIcon icon = MessageIcon::None;
  std::string title;  // empty: the program's default title
  friend bool operator==(const Message&, const Message&) = default;
};

// Modal message boxes and input boxes. An input box returns the empty text on Cancel.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual MessageAnswer Show(const Message& message) = 0;
  virtual std::string Ask(const std::string& prompt, const std::string& title,
                          const std::string& default_text) = 0;
};

// "Done", and the warnings of file operations that failed.
inline Message DoneMessage() { return Message{"Done", MessageButtons::Ok, MessageIcon::None, ""}; }
inline Message WarningMessage(std::string text) {
  return Message{std::move(text), MessageButtons::Ok, MessageIcon::Exclamation, ""};
}

}  // namespace fc

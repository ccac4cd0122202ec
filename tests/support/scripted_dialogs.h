#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/message.h"

namespace fc::testing {

// Answers message boxes and input boxes from scripts and records what was shown. An input box
// without a scripted reply is reported through `unexpected` and answered as Cancel would be.
class ScriptedDialogs : public Dialogs {
 public:
  explicit ScriptedDialogs(std::function<void(const std::string&)> unexpected)
      : unexpected_(std::move(unexpected)) {}

  MessageAnswer Show(const Message& message) override {
    shown.push_back(message);
    if (answers.empty()) return MessageAnswer::Ok;
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::string Ask(const std::string& prompt, const std::string& title,
                  const std::string& default_text) override {
    asked.push_back({prompt, title, default_text});
    if (replies.empty()) {
      unexpected_("unexpected input box: " + prompt);
      return "";
    }
    std::string reply = replies.front();
    replies.pop_front();
    return reply;
  }

  std::vector<std::string> ShownTexts() const {
    std::vector<std::string> texts;
    for (const Message& message : shown) texts.push_back(message.text);
    return texts;
  }

  struct Question {
    std::string prompt, title, default_text;
  };
  std::deque<MessageAnswer> answers;
  std::deque<std::string> replies;
  std::vector<Message> shown;
  std::vector<Question> asked;

 private:
  std::function<void(const std::string&)> unexpected_;
};

}  // namespace fc::testing

#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "analysis/display.h"
#include "analysis/message.h"
#include "analysis/picture.h"

namespace fc::testing {

// Records every line drawn, and the clears, in order.
class FakePicture : public Picture {
 public:
  struct Line {
    double x1, y1, x2, y2;
    std::optional<Color> color;
    friend bool operator==(const Line&, const Line&) = default;
  };
  void Clear() override {
    lines.clear();
    ++clears;
  }
  void DrawLine(double x1, double y1, double x2, double y2, std::optional<Color> color) override {
    lines.push_back({x1, y1, x2, y2, color});
  }
  std::vector<Line> lines;
  int clears = 0;
};

class FakeDisplay : public Display {
 public:
  void SetFrameLabel(int index, const std::string& text) override { labels.at(index) = text; }
  void AppendLog(const std::string& text) override { log += text; }
  void ClearLog() override { log.clear(); }
  Picture& Trace() override { return trace; }
  Picture& Scope() override { return scope; }

  std::vector<std::string> labels{"Label1", "Label1"};
  std::string log = "Text1";
  FakePicture trace;
  FakePicture scope;
};

// Answers message boxes and input boxes from scripts and records what was shown.
class ScriptedDialogs : public Dialogs {
 public:
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
      ADD_FAILURE() << "unexpected input box: " << prompt;
      return "";
    }
    std::string reply = replies.front();
    replies.pop_front();
    return reply;
  }

  struct Question {
    std::string prompt, title, default_text;
  };
  std::deque<MessageAnswer> answers;
  std::deque<std::string> replies;
  std::vector<Message> shown;
  std::vector<Question> asked;
};

}  // namespace fc::testing

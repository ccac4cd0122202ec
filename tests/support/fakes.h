#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "analysis/display.h"
#include "analysis/message.h"
#include "analysis/picture.h"
#include "support/scripted_dialogs.h"

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

// Scripted dialogs whose unexpected input boxes fail the running GoogleTest test.
class GTestDialogs : public ScriptedDialogs {
 public:
  GTestDialogs() : ScriptedDialogs([](const std::string& what) { ADD_FAILURE() << what; }) {}
};

}  // namespace fc::testing

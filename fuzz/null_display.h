#pragma once

#include <string>

#include "analysis/display.h"

namespace fc::fuzzing {

class NullPicture : public Picture {
 public:
  void Clear() override {}
  void DrawLine(double, double, double, double, std::optional<Color>) override {}
};

// Keeps only the size of the log, so long runs do not grow memory.
class NullDisplay : public Display {
 public:
  void SetFrameLabel(int, const std::string&) override {}
  void AppendLog(const std::string& text) override { log_size += text.size(); }
  void ClearLog() override { log_size = 0; }
  Picture& Trace() override { return trace; }
  Picture& Scope() override { return scope; }

  std::size_t log_size = 0;
  NullPicture trace;
  NullPicture scope;
};

}  // namespace fc::fuzzing

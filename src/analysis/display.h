#pragma once

#include <string>

#include "analysis/picture.h"

namespace fc {

// Where the measurement publishes: the two frame labels (Label1 index 0 and 1), the log text
// box (Text1), the live trace (Picture1) and the detailed graph (scope index 0). The window,
// the batch program and the tests each implement it.
class Display {
 public:
  virtual ~Display() = default;
  virtual void SetFrameLabel(int index, const std::string& text) = 0;
  virtual void AppendLog(const std::string& text) = 0;
  virtual void ClearLog() = 0;
  virtual Picture& Trace() = 0;
  virtual Picture& Scope() = 0;
};

}  // namespace fc

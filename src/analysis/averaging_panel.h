#pragma once

#include <string>

namespace fc {

// The averaging panel's user-editable values: Text2 index 0 and 1 and Check1. They are kept in
// the configuration file and read by the averaging.
struct AveragingPanel {
  std::string FirstText;  // Text2 index 0
  std::string LastText;   // Text2 index 1
  int Check1 = 0;         // 0 unticked, 1 ticked, 2 grey (counts as not ticked)
  friend bool operator==(const AveragingPanel&, const AveragingPanel&) = default;
};

}  // namespace fc

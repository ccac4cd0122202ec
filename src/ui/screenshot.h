#pragma once

#include <string>

namespace fc {

// Opens the window on a scripted sound input in a private program directory, replays
// `raw_file` (when given) through Read Raw Data, draws frame 1 in detail, saves a picture of
// the window to `png_file` and closes the window. With `chart_png_file` the Run Chart window is
// opened from the View menu as well and its picture saved there. Dialogs are answered with OK
// and printed. Returns the process exit status.
int RunScreenshot(const std::string& png_file, const std::string& raw_file,
                  const std::string& chart_png_file = {});

}  // namespace fc

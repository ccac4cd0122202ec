#pragma once

#include <cstdint>
#include <optional>

namespace fc {

struct Color {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  friend bool operator==(const Color&, const Color&) = default;
};

// A picture box in its own user scale (x to the right, y down). Lines without a colour are
// drawn in the picture's current (foreground) colour.
class Picture {
 public:
  virtual ~Picture() = default;
  virtual void Clear() = 0;
  virtual void DrawLine(double x1, double y1, double x2, double y2,
                        std::optional<Color> color = std::nullopt) = 0;
};

}  // namespace fc

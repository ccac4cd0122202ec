#pragma once

#include <QWidget>
#include <optional>

#include "analysis/frame_diagnosis.h"

namespace fc {

// The first channel's range over a frame against the two zones, to scale from 0 to 255: the
// zones are shaded at both ends and the range from the lowest to the highest sample is a bar
// across the middle.
class LevelBar : public QWidget {
 public:
  explicit LevelBar(QWidget* parent = nullptr);
  void SetLevels(const std::optional<InputLevels>& levels);
  const std::optional<InputLevels>& levels() const { return levels_; }
  QSize sizeHint() const override { return {300, 22}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::optional<InputLevels> levels_;
};

}  // namespace fc

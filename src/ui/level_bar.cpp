#include "ui/level_bar.h"

#include <QPainter>
#include <algorithm>

namespace fc {

namespace {

constexpr int kFullScale = 255;

}  // namespace

LevelBar::LevelBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("LevelBar"));
  setMinimumHeight(16);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LevelBar::SetLevels(const std::optional<InputLevels>& levels) {
  levels_ = levels;
  setToolTip(levels ? QStringLiteral("input %1 to %2; pulses must rise above %3 and fall below %4")
                          .arg(levels->lowest)
                          .arg(levels->highest)
                          .arg(levels->top_limit)
                          .arg(levels->bottom_limit)
                    : QString());
  update();
}

void LevelBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  painter.fillRect(frame, palette().color(QPalette::Base));
  if (levels_) {
    // Sample value v lies at x = v / 255 of the width.
    const auto x = [&](int value) {
      return frame.left() + frame.width() * std::clamp(value, 0, kFullScale) / kFullScale;
    };
    const QColor zone(255, 200, 120);
    painter.fillRect(
        QRect(QPoint(x(0), frame.top()), QPoint(x(levels_->bottom_limit), frame.bottom())), zone);
    painter.fillRect(QRect(QPoint(x(levels_->top_limit + 1), frame.top()),
                           QPoint(x(kFullScale), frame.bottom())),
                     zone);
    const int band = frame.height() / 4;
    painter.fillRect(QRect(QPoint(x(levels_->lowest), frame.top() + band),
                           QPoint(x(levels_->highest), frame.bottom() - band)),
                     QColor(31, 119, 180));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(x(128), frame.top(), x(128), frame.bottom());  // the mid level
  }
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawRect(frame);
}

}  // namespace fc

#pragma once

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analysis/message.h"
#include "support/scripted_dialogs.h"
#include "capture/clock.h"
#include "support/scripted_wave_input.h"
#include "ui/form1.h"

namespace fc::uitest {

// Scripted dialogs whose unexpected input boxes fail the running Qt test.
class ScriptedDialogs : public fc::testing::ScriptedDialogs {
 public:
  ScriptedDialogs()
      : fc::testing::ScriptedDialogs([](const std::string& what) {
          QTest::qFail(what.c_str(), __FILE__, __LINE__);
        }) {}
};

// One frame of a square pulse train on the first channel: 50 points at 255, 50 at 0, and so
// on, starting high; the second channel stays at the mid level.
inline std::vector<uint8_t> SquareFrame(int half_period = 50) {
  std::vector<uint8_t> bytes(2048);
  for (int j = 0; j < 1024; ++j) {
    bytes[static_cast<std::size_t>(2 * j)] = (j / half_period) % 2 == 0 ? 255 : 0;
    bytes[static_cast<std::size_t>(2 * j + 1)] = 128;
  }
  return bytes;
}

// A window on a scripted sound input and scripted dialogs, in a private program directory.
struct WindowRig {
  WindowRig() : clock(0.0), input(clock) {}

  std::filesystem::path Home() const { return home.path().toStdString(); }
  std::filesystem::path File(const char* name) const { return Home() / name; }

  // Loads the window, shows it and waits for its first activation.
  void Open() {
    form = std::make_unique<Form1>(Home(), dialogs, input, clock);
    form->SetQuitFunction([this](int) { ++quits; });
    if (form->Ended()) return;
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
  }

  QTemporaryDir home;
  FakeClock clock;
  ScriptedWaveInput input;
  ScriptedDialogs dialogs;
  std::unique_ptr<Form1> form;
  int quits = 0;
};

// The log lines of `frames` frames of SquareFrame().
inline std::string SquareLog(int frames) {
  std::string log;
  for (int f = 0; f < frames; ++f) log += " " + std::to_string(f) + "   .3906   .000\r\n";
  return log;
}

// The raw data file as it must read: line 1 the last frame, then one byte per line.
inline std::string RawFileText(int last, const std::vector<std::vector<uint8_t>>& frames) {
  std::string text = " " + std::to_string(last) + " \r\n";
  for (const auto& frame : frames) {
    for (uint8_t byte : frame) text += " " + std::to_string(int(byte)) + " \r\n";
  }
  return text;
}

// Start, then a click of Stop that waits for the end of frame `frames` - 1. `at_step10` runs
// at every step where the capture loop processes input.
inline void RunFrames(Form1& form, ScriptedWaveInput& input, int frames,
                      std::function<void()> at_step10 = {}) {
  input.FillEveryBufferWith(SquareFrame());
  auto fill = input.fill;
  const int queued_before = input.queued_count();  // queue numbers go on from run to run
  const int last = queued_before + frames - 1;
  input.fill = [&form, fill, last, at_step10](int queue, uint8_t* data, uint32_t length) {
    fill(queue, data, length);
    // Posted now, delivered when the capture loop next processes input: after this frame.
    if (at_step10) QTimer::singleShot(0, &form, at_step10);
    if (queue == last) QTimer::singleShot(0, form.StopButton, &QPushButton::click);
  };
  form.StartButton->click();
  QCOMPARE(input.queued_count() - queued_before, frames);
}

inline std::string ReadFile(const std::filesystem::path& path) {
  QFile file(QString::fromStdString(path.string()));
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll().toStdString();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  QFile file(QString::fromStdString(path.string()));
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes.data(), static_cast<qint64>(bytes.size())),
           static_cast<qint64>(bytes.size()));
}

}  // namespace fc::uitest

// QCOMPARE on std::string prints both sides.
namespace QTest {
template <>
inline char* toString(const std::string& text) {
  return QTest::toString(QString::fromStdString(text));
}
}  // namespace QTest

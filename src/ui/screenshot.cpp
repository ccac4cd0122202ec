#include "ui/screenshot.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "capture/clock.h"
#include "capture/wave_input.h"
#include "files/raw_data_file.h"
#include "ui/form1.h"
#include "ui/run_chart_window.h"

namespace fc {

namespace {

// OK to every message (printed, so the log shows them) and frame 1 to every question.
class AnsweringDialogs : public Dialogs {
 public:
  MessageAnswer Show(const Message& message) override {
    std::printf("message: %s\n", message.text.c_str());
    std::fflush(stdout);
    return message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
  }
  std::string Ask(const std::string& prompt, const std::string&, const std::string&) override {
    std::printf("question: %s -> 1\n", prompt.c_str());
    return "1";
  }
};

// The pictures show a replay, never a recording: one input to list, which never opens.
class ListedOnlyInput : public WaveInput {
 public:
  std::vector<WaveInDevice> Devices() override { return {{"Replayed recording", true}}; }
  WaveInHandle Open(int, const WaveFormat&) override { return 0; }
  void Start(WaveInHandle) override {}
  void PrepareHeader(WaveInHandle, WaveHeader&) override {}
  void AddBuffer(WaveInHandle, WaveHeader&) override {}
  void UnprepareHeader(WaveInHandle, WaveHeader&) override {}
  void Reset(WaveInHandle) override {}
  void Close(WaveInHandle) override {}
  bool Lost(WaveInHandle) override { return true; }
};

void Settle(int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
}

// Saves a picture of `widget` and prints its size under `what`.
bool SavePicture(QWidget& widget, const std::string& png_file, const char* what) {
  const QPixmap picture = widget.grab();
  if (!picture.save(QString::fromStdString(png_file), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", png_file.c_str());
    return false;
  }
  std::printf("%s picture: %s (%dx%d)\n", what, png_file.c_str(), picture.width(),
              picture.height());
  std::fflush(stdout);
  return true;
}

}  // namespace

int RunScreenshot(const std::string& png_file, const std::string& raw_file,
                  const std::string& chart_png_file) {
  QTemporaryDir directory;
  if (!directory.isValid()) {
    std::fprintf(stderr, "cannot create a temporary directory\n");
    return EXIT_FAILURE;
  }
  const std::filesystem::path home = directory.path().toStdString();
  if (!raw_file.empty()) {
    std::error_code error;
    std::filesystem::copy_file(raw_file, home / kRawDataFileName, error);
    if (error) {
      std::fprintf(stderr, "cannot copy %s: %s\n", raw_file.c_str(), error.message().c_str());
      return EXIT_FAILURE;
    }
  }

  SystemClock clock;
  ListedOnlyInput input;
  AnsweringDialogs dialogs;
  Form1 form(home, dialogs, input, clock);
  form.SetQuitFunction([](int) {});
  form.UseSettingsFile(QString::fromStdString((home / "run-chart.ini").string()));
  form.show();
  form.activateWindow();
  QElapsedTimer timer;
  timer.start();
  while ((form.windowHandle() == nullptr || !form.windowHandle()->isExposed()) &&
         timer.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  Settle(300);

  if (!raw_file.empty()) {
    form.Command5[1]->click();  // Read Raw Data
    form.Command2->click();     // Draw Detailed Graph, frame 1
  }
  Settle(300);

  bool saved = true;
  if (!chart_png_file.empty()) {
    form.mnuRunChart->trigger();  // View > Run Chart
    Settle(500);
    saved = SavePicture(*form.run_chart_window(), chart_png_file, "chart");
  }
  saved = SavePicture(form, png_file, "window") && saved;
  form.close();
  return saved ? EXIT_SUCCESS : EXIT_FAILURE;
}

}  // namespace fc

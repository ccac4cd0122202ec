// frequency-counter-cli-chart: the batch program with the chart drawing linked in. The
// frequency-counter-cli that users run hands `chart` over to it, so that the other commands
// start without loading Qt.
#include <QApplication>
#include <QChart>
#include <iostream>
#include <memory>

#include "capture/clock.h"
#include "chart/run_chart.h"
#include "cli/cli_app.h"

namespace {

// Qt's start-up talks about the desktop session (its runtime directory, a display), which
// drawing offscreen does not use. Only what stops it is shown; once it has started, its
// messages go to standard error as usual.
void QuietStartUp(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::cerr << message.toStdString() << "\n";
}

// Started only when a picture is drawn: --help, usage errors and CSV need no Qt at all.
std::unique_ptr<QApplication> StartDrawing(char* program) {
  // Always offscreen: the platform of the user's session may have no display to reach, and a
  // platform that cannot start aborts the program.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int qt_argc = 1;
  static char* qt_argv[] = {program, nullptr};
  const QtMessageHandler previous = qInstallMessageHandler(QuietStartUp);
  auto app = std::make_unique<QApplication>(qt_argc, qt_argv);
  qInstallMessageHandler(previous);
  return app;
}

}  // namespace

int main(int argc, char** argv) {
  std::unique_ptr<QApplication> app;

  fc::SystemClock clock;
  fc::SoundEnvironment sound;
  sound.clock = &clock;
  fc::ChartEnvironment chart;
  chart.render = [&app, argv](const fc::RunSeries& series, const fc::ChartImage& image) {
    if (!app) app = StartDrawing(argv[0]);
    fc::RunChart run_chart(series);
    run_chart.SetPulsesPerRev(image.pulses_per_rev);
    run_chart.chart()->resize(image.width, image.height);
    return fc::RenderChart(*run_chart.chart(),
                           image.svg ? fc::ImageFormat::Svg : fc::ImageFormat::Png);
  };
  return fc::RunCli(argc, argv, std::cout, std::cerr, sound, chart);
}

// frequency-counter-cli-chart: the batch program with the chart drawing linked in. The
// frequency-counter-cli that users run hands `chart` over to it, so that the other commands
// start without loading Qt.
#include <QApplication>
#include <QChart>
#include <iostream>

#include "capture/clock.h"
#include "chart/run_chart.h"
#include "cli/cli_app.h"

int main(int argc, char** argv) {
  // Drawn without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qt_argc = 1;
  QApplication app(qt_argc, argv);

  fc::SystemClock clock;
  fc::SoundEnvironment sound;
  sound.clock = &clock;
  fc::ChartEnvironment chart;
  chart.render = [](const fc::RunSeries& series, const fc::ChartImage& image) {
    fc::RunChart run_chart(series);
    run_chart.SetPulsesPerRev(image.pulses_per_rev);
    run_chart.chart()->resize(image.width, image.height);
    return fc::RenderChart(*run_chart.chart(),
                           image.svg ? fc::ImageFormat::Svg : fc::ImageFormat::Png);
  };
  return fc::RunCli(argc, argv, std::cout, std::cerr, sound, chart);
}

#include <QApplication>
#include <QCommandLineParser>
#include <QStandardPaths>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "capture/backends/sound_input.h"
#include "capture/clock.h"
#include "capture/device_list.h"
#include "files/program_directory.h"
#include "ui/form1.h"
#include "ui/qt_dialogs.h"
#include "ui/screenshot.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("frequency-counter"));
  QApplication::setApplicationVersion(QStringLiteral(FC_VERSION));
  // The installed desktop entry and icon carry the application's identifier.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.veldmark.FrequencyCounter"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.veldmark.FrequencyCounter")));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Veldmark Frequency Counter"));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption screenshot_option(
      QStringLiteral("screenshot"),
      QStringLiteral("Replay a raw data file in a private directory, save a picture of the window "
                     "to FILE and exit (also FREQUENCY_COUNTER_SCREENSHOT)."),
      QStringLiteral("FILE"));
  const QCommandLineOption raw_option(QStringLiteral("raw"),
                                      QStringLiteral("The raw data file the screenshot replays."),
                                      QStringLiteral("FILE"));
  const QCommandLineOption list_option(
      QStringLiteral("list-inputs"),
      QStringLiteral("Print the sound system and the inputs the window would list, then exit."));
  const QCommandLineOption chart_option(
      QStringLiteral("chart-screenshot"),
      QStringLiteral("With --screenshot, also open View > Run Chart and save its picture to FILE."),
      QStringLiteral("FILE"));
  parser.addOption(screenshot_option);
  parser.addOption(raw_option);
  parser.addOption(list_option);
  parser.addOption(chart_option);
  parser.process(app);

  QString screenshot = parser.value(screenshot_option);
  if (screenshot.isEmpty()) screenshot = qEnvironmentVariable("FREQUENCY_COUNTER_SCREENSHOT");
  if (!screenshot.isEmpty()) {
    return fc::RunScreenshot(screenshot.toStdString(), parser.value(raw_option).toStdString(),
                             parser.value(chart_option).toStdString());
  }

  const std::filesystem::path per_user_dir =
      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
  const std::filesystem::path program_directory = fc::ProgramDirectory(per_user_dir);

  // FREQUENCY_COUNTER_AUDIO forces a sound system; otherwise the server's inputs when one
  // answers, the sound cards' own (ALSA) when none does.
  fc::ServerCheck server;
  const fc::AudioBackend backend = fc::ChooseAudioBackend(
      fc::AudioBackendFromEnvironment(std::cerr), [&server] { return server.Reachable(); });
  const std::unique_ptr<fc::WaveInput> input = fc::MakeWaveInput(backend, server.Answered());
  if (parser.isSet(list_option)) {
    std::cout << "Sound system: " << fc::AudioBackendName(backend) << "\n";
    const fc::DeviceList devices = fc::CapableDevices(*input);
    for (std::size_t p = 0; p < devices.names.size(); ++p) {
      std::cout << p << "\t" << devices.names[p] << "\n";
    }
    return EXIT_SUCCESS;
  }

  fc::SystemClock clock;
  fc::QtDialogs dialogs;
  fc::Form1 form(program_directory, dialogs, *input, clock);
  if (form.Ended()) return EXIT_SUCCESS;  // no input device: told so, nothing saved
  dialogs.SetParent(&form);
  form.show();
  return app.exec();
}

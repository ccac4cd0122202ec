// The window recording from a sound server until it is killed, for the journal's kill test:
//   journal_kill_child HOME SERVER LOG_FILE
// It picks the test server's input, presses Start, and keeps LOG_FILE equal to its log.
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "capture/clock.h"
#include "capture/pulse/pulse_wave_input.h"
#include "files/atomic_file.h"
#include "ui/form1.h"

namespace {

// Nobody is there to answer: every message is printed and answered No (or Ok).
class PrintingDialogs : public fc::Dialogs {
 public:
  fc::MessageAnswer Show(const fc::Message& message) override {
    std::fprintf(stderr, "journal_kill_child: %s\n", message.text.c_str());
    return message.buttons == fc::MessageButtons::Ok ? fc::MessageAnswer::Ok
                                                     : fc::MessageAnswer::No;
  }
  std::string Ask(const std::string&, const std::string&, const std::string&) override {
    return "";
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 4) return 2;
  fc::PulseWaveInput::Options options;
  options.server = argv[2];
  fc::PulseWaveInput input(options);
  fc::SystemClock clock;
  PrintingDialogs dialogs;
  fc::Form1 form(argv[1], dialogs, input, clock);
  if (form.Ended()) return 1;
  const int test_input =
      form.DevicesBox->findText(QStringLiteral("Test-pulse-input"), Qt::MatchContains);
  if (test_input < 0) return 1;
  form.DevicesBox->setCurrentIndex(test_input);
  form.show();

  const std::filesystem::path log_file = argv[3];
  std::string written;
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    const std::string log = form.LogText();
    if (log != written && !fc::WriteFileAtomically(log_file, log)) written = log;
  });
  look.start(50);
  QTimer::singleShot(0, form.StartButton, &QPushButton::click);
  return app.exec();
}

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>

#include "ui_support.h"

using namespace fc;
using namespace fc::uitest;

namespace {

const std::string kSquareLine0 = " 0   .3906   .000\r\n";

bool Exists(const std::filesystem::path& path) { return std::filesystem::exists(path); }

// True when a pixel of `color` lies at `point` or one pixel above or below it (lines fall on
// either side of a fractional coordinate).
bool ColorNear(const QImage& image, QPointF point, const QColor& color) {
  const QPoint centre = point.toPoint();
  for (int dy = -1; dy <= 1; ++dy) {
    const QPoint p = centre + QPoint(0, dy);
    if (image.valid(p) && image.pixelColor(p) == color) return true;
  }
  return false;
}

}  // namespace

class WindowFlowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { rig = std::make_unique<WindowRig>(); }
  void cleanup() {
    if (rig != nullptr) {
      const std::string errors = rig->input.errors.empty() ? "" : rig->input.errors.front();
      QVERIFY2(rig->input.errors.empty(), errors.c_str());
    }
    rig.reset();
  }

  void FirstStartWithoutConfiguration() {
    rig->Open();
    Form1& form = *rig->form;
    QCOMPARE(form.Text2[0]->text(), QString());
    QCOMPARE(form.Text2[1]->text(), QString());
    QCOMPARE(form.Check1->checkState(), Qt::Unchecked);
    QCOMPARE(form.state().AnticCounts, 50.0f);
    QVERIFY(rig->dialogs.shown.empty());
    QVERIFY(!Exists(rig->File("Config.vmk")));
    QVERIFY(form.close());
    QVERIFY(form.Unloaded());
    QCOMPARE(rig->quits, 1);
    QCOMPARE(ReadFile(rig->File("Config.vmk")),
             std::string(" 3 \r\n 5 \r\n 80 \r\n\r\n\r\n 0 \r\n 0 \r\n 0 \r\n"));
  }

  // The averaging panel comes back as it was left, blanks and a grey check box included.
  void PanelAndSettingsSurviveARestart() {
    WriteFile(rig->File("Config.vmk"), " 2 \r\n 12 \r\n 64 \r\n 4 \r\n  20 \r\n 2 \r\n 1 \r\n 0 \r\n");
    rig->Open();
    Form1& form = *rig->form;
    QCOMPARE(form.Text2[0]->text(), QStringLiteral(" 4 "));
    QCOMPARE(form.Text2[1]->text(), QStringLiteral("  20 "));
    QCOMPARE(form.Check1->checkState(), Qt::PartiallyChecked);
    QCOMPARE(form.Check1Value(), 2);
    QCOMPARE(int(form.state().ConsecutivePoints), 2);
    QCOMPARE(int(form.state().MaxLimitCounts), 12);
    QCOMPARE(int(form.state().JumpCounts), 64);
    QCOMPARE(int(form.state().LookForZeroCrossing), 1);
    form.Text2[1]->setText(QStringLiteral("30"));
    QVERIFY(form.close());
    QCOMPARE(ReadFile(rig->File("Config.vmk")),
             std::string(" 2 \r\n 12 \r\n 64 \r\n 4 \r\n30\r\n 2 \r\n 1 \r\n 0 \r\n"));
  }

  // A click on a grey box ticks it, and from then on it is a two-state box.
  void GreyCheckBoxBecomesTwoStateWhenClicked() {
    WriteFile(rig->File("Config.vmk"), " 3 \r\n 5 \r\n 80 \r\n\r\n\r\n 2 \r\n 0 \r\n 0 \r\n");
    rig->Open();
    QCheckBox* box = rig->form->Check1;
    QCOMPARE(rig->form->Check1Value(), 2);
    box->click();
    QCOMPARE(rig->form->Check1Value(), 1);
    box->click();
    QCOMPARE(rig->form->Check1Value(), 0);
    box->click();
    QCOMPARE(rig->form->Check1Value(), 1);
  }

  // A FIFO in place of a file never hangs the window: the configuration is skipped silently at
  // start-up, and Read Raw Data says it could not read.
  void FifosAreNoFiles() {
    QCOMPARE(::mkfifo(rig->File("Config.vmk").c_str(), 0600), 0);
    QCOMPARE(::mkfifo(rig->File("Raw.txt").c_str(), 0600), 0);
    rig->Open();
    Form1& form = *rig->form;
    QVERIFY(form.isVisible());
    QCOMPARE(int(form.state().JumpCounts), 80);
    QVERIFY(rig->dialogs.shown.empty());
    form.Command5[1]->click();
    QCOMPARE(rig->dialogs.ShownTexts(),
             std::vector<std::string>{"Could not read \"" + rig->File("Raw.txt").string() +
                                      "\": Not a regular file. Nothing was read."});
  }

  void NoInputDeviceEndsTheProgram() {
    rig->input.devices = {{"HDMI", false}};
    rig->Open();
    QVERIFY(rig->form->Ended());
    QVERIFY(!rig->form->isVisible());
    QCOMPARE(rig->dialogs.shown.size(), std::size_t(1));
    QVERIFY(rig->dialogs.shown[0] == (Message{"You have no audio input devices!", MessageButtons::Ok,
                                              MessageIcon::Critical, "Ack!"}));
    rig->form.reset();
    QVERIFY(!Exists(rig->File("Config.vmk")));
  }

  void StartThreeFramesStop() {
    rig->Open();
    Form1& form = *rig->form;
    std::vector<bool> file_buttons_during_run;
    RunFrames(3, [&] {
      file_buttons_during_run.push_back(form.Command1->isEnabled() || form.Command5[0]->isEnabled() ||
                                        form.Command5[1]->isEnabled());
    });
    QCOMPARE(file_buttons_during_run, (std::vector<bool>{false, false, false}));

    QCOMPARE(form.LogText(), SquareLog(3));
    QCOMPARE(form.Label1[0]->text(), QString());
    QCOMPARE(form.Label1[1]->text(), QStringLiteral(" 2   .3906   .000"));
    QCOMPARE(int(form.state().CurrentFrame), 3);
    // Frames are 267 wait steps of 15 ms apart on the scripted clock.
    QCOMPARE(rig->dialogs.ShownTexts(), std::vector<std::string>{"Avg time per block = 4.005"});
    QCOMPARE(form.Label2->text(), QStringLiteral("Average = .3906"));
    QVERIFY(form.StartButton->isEnabled());
    QVERIFY(!form.StopButton->isEnabled());
    QVERIFY(form.Command3->isVisible());
    QVERIFY(form.Command1->isEnabled());
    QVERIFY(form.Command5[0]->isEnabled());
    QVERIFY(form.Command5[1]->isEnabled());
    QVERIFY(!form.state().hWaveIn);
    // The trace (509 x 141 pixels for 50 frames x 3 s) has marks from frame -1 to 3 at
    // 0.390625 s: y = 0.390625 / 3 * 141 = 18.4, x up to 3 / 50 * 509 = 30.5.
    const QImage& trace = form.Picture1->image();
    QCOMPARE(form.Picture1->InnerSize(), QSize(509, 141));
    QVERIFY(ColorNear(trace, QPointF(10, 18.4), Qt::black));
    QVERIFY(ColorNear(trace, QPointF(25, 18.4), Qt::black));
    QVERIFY(!ColorNear(trace, QPointF(40, 18.4), Qt::black));
    QVERIFY(!ColorNear(trace, QPointF(10, 70.5), Qt::black));
  }

  void PostRunTools() {
    rig->Open();
    Form1& form = *rig->form;
    RunFrames(3);
    rig->dialogs.shown.clear();

    // Detailed graph of frame 1: maximum pulses at points 100 and 200.
    rig->dialogs.replies = {"1"};
    form.Command2->click();
    QCOMPARE(rig->dialogs.asked.back().prompt, std::string("Enter frame #"));
    QCOMPARE(rig->dialogs.asked.back().title, std::string("Frame #"));
    QCOMPARE(rig->dialogs.asked.back().default_text, std::string("1"));
    // The graph is blue up to the first pulse: point 50 (value 0) lies at the bottom.
    // 1100 x 300 units on 509 x 141 pixels: point 30 at value 255 is (13.9, 119.9).
    const QImage& scope = form.scope[0]->image();
    QVERIFY(ColorNear(scope, QPointF(13.9, 119.9), QColor(0, 0, 255)));
    QVERIFY(ColorNear(scope, QPointF(69.4, 0), QColor(0, 255, 0)));     // point 150, value 0
    QVERIFY(ColorNear(scope, QPointF(115.7, 0), QColor(0, 255, 255)));  // point 250, value 0
    QVERIFY(ColorNear(scope, QPointF(194.3, 60.2), Qt::black));         // mid line at point 420

    // Anticipation from frame 0: steps at 100, 200 ... 1000; the gap 100 puts the next one at
    // 76, before the step found at 100, so one more gap is added.
    rig->dialogs.replies = {"0"};
    form.Command3->click();
    QVERIFY(!ColorNear(scope, QPointF(13.9, 119.9), QColor(0, 0, 255)));
    QVERIFY(!ColorNear(scope, QPointF(194.3, 60.2), Qt::black));

    form.Text2[0]->setText(QStringLiteral("-3"));
    form.Text2[1]->setText(QStringLiteral("9"));
    form.Command4->click();
    QCOMPARE(form.Text2[0]->text(), QStringLiteral("0"));
    QCOMPARE(form.Label3[2]->text(), QStringLiteral("Avg: .3906  ( 3 readings)"));

    QCOMPARE(rig->dialogs.ShownTexts(),
             (std::vector<std::string>{"Delta  100",
                                       "Gap = 100   FoundMax =  100   AnticMax =  176   Dif =  76"}));
    for (const Message& message : rig->dialogs.shown) {
      QVERIFY(message.buttons == MessageButtons::Ok && message.icon == MessageIcon::None &&
              message.title.empty());
    }

    // Results file: frames 0..3; frame 3 was never recorded and holds zeros.
    rig->dialogs.shown.clear();
    form.Command1->click();
    QCOMPARE(rig->dialogs.ShownTexts(), std::vector<std::string>{"Done"});
    QCOMPARE(ReadFile(rig->File("RPM.txt")),
             std::string(" 0   384.0000   153.6\r\n 1   384.1250   153.6\r\n"
                         " 2   384.2500   153.6\r\n 3   .3750   .0\r\n"));
  }

  void RawDataWrittenAndReadBack() {
    rig->Open();
    Form1& form = *rig->form;
    RunFrames(3);
    rig->dialogs.shown.clear();

    form.Command5[0]->click();
    const std::string written = ReadFile(rig->File("Raw.txt"));
    const std::vector<uint8_t> square = SquareFrame();
    QCOMPARE(written, RawFileText(3, {square, square, square, std::vector<uint8_t>(2048, 0)}));

    form.Command5[1]->click();
    QCOMPARE(form.LogText(), SquareLog(3) + " 3   .0000   .000\r\n");
    QCOMPARE(int(form.state().CurrentFrame), 3);

    std::filesystem::rename(rig->File("Raw.txt"), rig->File("Raw-first.txt"));
    form.Command5[0]->click();
    QCOMPARE(ReadFile(rig->File("Raw.txt")), written);
    QCOMPARE(rig->dialogs.ShownTexts(), (std::vector<std::string>{"Done", "Done", "Done"}));
  }

  // Read Raw Data before any capture: the frames are analysed, a resize re-analyses nothing.
  void ReplayWithoutCapture() {
    rig->Open();
    Form1& form = *rig->form;
    WriteFile(rig->File("Raw.txt"), RawFileText(0, {SquareFrame()}));
    form.Command5[1]->click();
    QCOMPARE(form.LogText(), kSquareLine0);
    QCOMPARE(rig->dialogs.ShownTexts(), std::vector<std::string>{"Done"});
    form.resize(form.width() + 30, form.height() + 30);
    QTest::qWait(500);
    QCOMPARE(form.LogText(), kSquareLine0);
  }

  // Read Audio File fills the store as a replay would: Write Raw Data writes its frames, and
  // reading them back gives the same log. A file that is no audio changes nothing.
  void ReadAudioFileWorksAsReadRawData() {
    rig->Open();
    Form1& form = *rig->form;
    const std::filesystem::path wav = rig->File("train.wav");
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(wav.c_str(), SFM_WRITE, &info);
    QVERIFY(file != nullptr);
    std::vector<short> samples(8000 * 9);
    for (size_t n = 0; n < samples.size(); ++n) {
      samples[n] = std::fmod(n / 8000.0, 0.3125) < 0.03125 ? 32767 : -32768;
    }
    sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);

    const std::string two_frames = " 0   .3125   .000\r\n 1   .3125   .000\r\n";
    form.ReadAudioFile(wav);
    QCOMPARE(form.LogText(), two_frames);
    QCOMPARE(rig->dialogs.ShownTexts(), std::vector<std::string>{"Done"});
    form.Command5[0]->click();
    QCOMPARE(ReadFile(rig->File("Raw.txt")).substr(0, 5), std::string(" 1 \r\n"));
    form.Command5[1]->click();
    QCOMPARE(form.LogText(), two_frames);

    WriteFile(rig->File("notes.wav"), "not audio");
    rig->dialogs.shown.clear();
    form.ReadAudioFile(rig->File("notes.wav"));
    QCOMPARE(form.LogText(), two_frames);
    QCOMPARE(rig->dialogs.shown.size(), std::size_t(1));
    QVERIFY(rig->dialogs.shown[0].text.find("is not an audio file") != std::string::npos);
  }

  // After a run, each finished change of size analyses frame CurrentFrame once more.
  void ResizeAfterARun() {
    rig->Open();
    Form1& form = *rig->form;
    RunFrames(3);
    const std::string after_run = form.LogText();
    form.resize(form.width() + 30, form.height() + 20);
    QTRY_COMPARE(form.LogText(), after_run + " 3   .0000   .000\r\n");
    // Two steps of one drag count as one change.
    form.resize(form.width() + 10, form.height());
    QCoreApplication::processEvents();
    form.resize(form.width() + 10, form.height());
    QTRY_COMPARE(form.LogText(), after_run + " 3   .0000   .000\r\n 3   .0000   .000\r\n");
    QTest::qWait(400);
    QCOMPARE(form.LogText(), after_run + " 3   .0000   .000\r\n 3   .0000   .000\r\n");
    // A move is no resize.
    form.move(form.pos() + QPoint(15, 15));
    QTest::qWait(400);
    QCOMPARE(form.LogText(), after_run + " 3   .0000   .000\r\n 3   .0000   .000\r\n");
  }

  void CloseDuringACapture() {
    rig->Open();
    Form1& form = *rig->form;
    rig->input.FillEveryBufferWith(SquareFrame());
    auto fill = rig->input.fill;
    rig->input.fill = [&, fill](int queue, uint8_t* data, uint32_t length) {
      fill(queue, data, length);
      if (queue == 1) QTimer::singleShot(0, &form, &QWidget::close);  // handled after frame 1
    };
    form.StartButton->click();
    QVERIFY(form.Unloaded());
    QVERIFY(!form.isVisible());
    QCOMPARE(rig->quits, 1);
    QCOMPARE(form.LogText(), SquareLog(2));
    QCOMPARE(rig->dialogs.ShownTexts(), std::vector<std::string>{"Avg time per block = 4.005"});
    QCOMPARE(form.Label2->text(), QStringLiteral("Average = .3906"));
    QCOMPARE(rig->input.calls.back(), std::string("Close"));
    QCOMPARE(ReadFile(rig->File("Config.vmk")),
             std::string(" 3 \r\n 5 \r\n 80 \r\n\r\n\r\n 0 \r\n 0 \r\n 0 \r\n"));
  }

  // A close that arrives while a frame is awaited waits for the end of that frame.
  void CloseWhileAFrameIsAwaited() {
    rig->Open();
    Form1& form = *rig->form;
    rig->input.FillEveryBufferWith(SquareFrame());
    QTimer::singleShot(0, &form, &QWidget::close);
    form.StartButton->click();
    QVERIFY(form.Unloaded());
    QCOMPARE(form.LogText(), kSquareLine0);
    QVERIFY(rig->dialogs.shown.empty());  // one frame: no time per block
    QCOMPARE(form.Label2->text(), QStringLiteral("Average = .3906"));
    QVERIFY(Exists(rig->File("Config.vmk")));
  }

  // Such a close is carried out however the run ends: here the input is lost in that wait.
  void CloseWhileAwaitedOutlivesALostInput() {
    rig->Open();
    Form1& form = *rig->form;
    rig->input.FillEveryBufferWith(SquareFrame());
    QTimer::singleShot(0, &form, [&] {
      form.close();
      rig->input.lost = true;
    });
    form.StartButton->click();
    QCOMPARE(rig->dialogs.ShownTexts(), std::vector<std::string>{InputLostMessage().text});
    QVERIFY(form.Unloaded());
    QVERIFY(Exists(rig->File("Config.vmk")));
  }

  // The Preferences menu opened between two frames is used to its end before the next frame is
  // queued: a choice made in it applies from the very next frame.
  void MenuOpenedBetweenFramesIsServedFirst() {
    rig->Open();
    Form1& form = *rig->form;
    rig->input.FillEveryBufferWith(SquareFrame());
    int queued_when_chosen = -1;
    int points_at_frame_1 = -1;
    auto fill = rig->input.fill;
    rig->input.fill = [&, fill](int queue, uint8_t* data, uint32_t length) {
      fill(queue, data, length);
      if (queue == 0) {
        QTimer::singleShot(0, &form, [&] {
          form.mnuPreferences->popup(form.mapToGlobal(QPoint(10, 10)));
          QTimer::singleShot(50, &form, [&] {
            queued_when_chosen = rig->input.queued_count();
            form.mnu1->trigger();
            form.mnuPreferences->hide();
          });
        });
      }
      if (queue == 1) points_at_frame_1 = form.state().ConsecutivePoints;
      if (queue == 2) QTimer::singleShot(0, form.StopButton, &QPushButton::click);
    };
    form.StartButton->click();
    QTRY_VERIFY(queued_when_chosen != -1);
    QCOMPARE(queued_when_chosen, 1);
    QCOMPARE(points_at_frame_1, 1);
    QCOMPARE(rig->input.queued_count(), 3);
    QVERIFY(!form.mnuPreferences->isVisible());
  }

  void CancelAtTheTimeOut() {
    rig->Open();
    Form1& form = *rig->form;
    rig->input.FillEveryBufferWith(SquareFrame());
    rig->input.never_complete = {1};
    rig->dialogs.answers = {MessageAnswer::Cancel};
    form.StartButton->click();
    QVERIFY(form.Ended());
    QVERIFY(!form.Unloaded());
    QVERIFY(!form.isVisible());
    QCOMPARE(rig->quits, 1);
    QCOMPARE(rig->dialogs.shown.size(), std::size_t(1));
    QVERIFY(rig->dialogs.shown[0] == (Message{"Timed Out.  Continue?", MessageButtons::YesNoCancel,
                                              MessageIcon::None, "Continue"}));
    QCOMPARE(form.LogText(), kSquareLine0);
    form.close();  // the program is over: closing writes nothing
    rig->form.reset();
    QVERIFY(QDir(rig->home.path()).isEmpty());
  }

  // A Start whose device does not open leaves the run in the store writable.
  void FailedStartLeavesTheFileButtons() {
    rig->Open();
    Form1& form = *rig->form;
    rig->input.open_fails = true;
    form.StartButton->click();
    QCOMPARE(rig->dialogs.shown.size(), std::size_t(1));
    QVERIFY(rig->dialogs.shown[0] == (Message{"Wave input device didn't open!", MessageButtons::Ok,
                                              MessageIcon::Exclamation, "Ack!"}));
    QVERIFY(form.StartButton->isEnabled());
    QVERIFY(form.Command1->isEnabled());
    QVERIFY(form.Command5[0]->isEnabled());
    QVERIFY(form.Command5[1]->isEnabled());
    QVERIFY(!form.Command3->isVisible());
    QCOMPARE(form.LogText(), std::string());
  }

  // A configuration that cannot be written is reported with its path; the window still closes.
  void FailingSaveIsReported() {
    rig->Open();
    Form1& form = *rig->form;
    std::filesystem::create_directory(rig->File("Config.vmk"));  // a directory in the way
    QVERIFY(form.close());
    QVERIFY(form.Unloaded());
    QCOMPARE(rig->dialogs.shown.size(), std::size_t(1));
    const Message& message = rig->dialogs.shown[0];
    QVERIFY(message.icon == MessageIcon::Exclamation);
    QVERIFY2(message.text.find(rig->File("Config.vmk").string()) != std::string::npos,
             message.text.c_str());
  }

 private:
  void RunFrames(int frames, std::function<void()> at_step10 = {}) {
    fc::uitest::RunFrames(*rig->form, rig->input, frames, std::move(at_step10));
  }

  std::unique_ptr<WindowRig> rig;
};

QTEST_MAIN(WindowFlowTest)
#include "window_flow_test.moc"

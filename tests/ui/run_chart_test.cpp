#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QRadioButton>
#include <QScatterSeries>
#include <QSpinBox>
#include <QValueAxis>

#include "analysis/number_text.h"
#include "chart/run_chart.h"
#include "files/atomic_file.h"
#include "ui/run_chart_window.h"
#include "ui_support.h"

namespace fc {

using uitest::ReadFile;
using uitest::SquareFrame;
using uitest::WindowRig;

namespace {

// Frames 0..2: a pulse train, a flat frame without reading, a faster pulse train.
std::string RawFile() {
  return uitest::RawFileText(2,
                             {SquareFrame(50), std::vector<uint8_t>(2048, 128), SquareFrame(25)});
}

// The line pieces of the chart, and all their points in order.
QList<QLineSeries*> Pieces(RunChartWindow& window) {
  QList<QLineSeries*> pieces;
  for (QAbstractSeries* series : window.ChartView->chart()->series()) {
    auto* piece = qobject_cast<QLineSeries*>(series);
    if (piece != nullptr && piece->name() != QStringLiteral("limit")) pieces.append(piece);
  }
  return pieces;
}

// The heights of the band's dashed lines.
QList<double> LimitLines(QChart& chart) {
  QList<double> heights;
  for (QAbstractSeries* series : chart.series()) {
    auto* line = qobject_cast<QLineSeries*>(series);
    if (line != nullptr && line->name() == QStringLiteral("limit")) {
      heights.append(line->points().front().y());
    }
  }
  return heights;
}

// Typed into a box and confirmed with Return.
void Type(QLineEdit* box, const QString& text) {
  box->clear();
  QTest::keyClicks(box, text);
  QTest::keyClick(box, Qt::Key_Return);
}

QList<QPointF> Points(RunChartWindow& window) {
  QList<QPointF> points;
  for (QLineSeries* piece : Pieces(window)) points.append(piece->points());
  return points;
}

bool NearColor(const QImage& image, QPointF at, QColor color, int reach) {
  for (int dx = -reach; dx <= reach; ++dx) {
    for (int dy = -reach; dy <= reach; ++dy) {
      const QPoint p(qRound(at.x()) + dx, qRound(at.y()) + dy);
      if (!image.rect().contains(p)) continue;
      const QColor c = image.pixelColor(p);
      if (std::abs(c.red() - color.red()) + std::abs(c.green() - color.green()) +
              std::abs(c.blue() - color.blue()) <
          60) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

class RunChartTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    rig = std::make_unique<WindowRig>();
    rig->Open();
    rig->form->UseSettingsFile(Settings());
    uitest::WriteFile(rig->File("Raw.txt"), RawFile());
  }
  void cleanup() { rig.reset(); }

  // View > Run Chart opens a separate window on the run read back, without touching the
  // measurement; a Start then clears it and the frames of the run are added as they come.
  void OpensOnTheRunAndFollowsTheNextOne() {
    Form1& form = *rig->form;
    form.Command5[1]->click();  // Read Raw Data
    QCOMPARE(form.mnuView->title(), QStringLiteral("View"));
    QCOMPARE(form.mnuRunChart->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    const auto results = form.state().FrameResults;
    const int16_t current = form.state().CurrentFrame;
    form.mnuRunChart->trigger();
    RunChartWindow& window = *form.run_chart_window();
    QVERIFY(window.isVisible());
    QVERIFY(!window.Levels->isHidden());
    QVERIFY(window.ExtraReadout->isHidden());  // the frame has a reading: no advice
    QCOMPARE(window.windowTitle(), QStringLiteral("Run Chart"));
    QVERIFY(!window.isModal());
    QVERIFY(form.state().FrameResults == results);
    QCOMPARE(form.state().CurrentFrame, current);

    // The last frame read is the readout; the flat frame is a gap, not a point at 0.
    const double period = results[2];
    QVERIFY(period > 0.0 && results[0] > 0.0 && results[1] == 0.0);
    QCOMPARE(window.RpmReadout->text(),
             QString::fromStdString(FormatPattern(60.0 / period, "0.0") + " RPM"));
    QVERIFY(window.DetailReadout->text().endsWith(QStringLiteral("frame 2")));
    QCOMPARE(
        window.PreciseNote->text(),
        QStringLiteral("No precise readings: a raw data file holds only 256 points per second."));
    QCOMPARE(Pieces(window).size(), 2);
    QCOMPARE(Points(window), (QList<QPointF>{{0.0, 60.0 / results[0]}, {8.0, 60.0 / period}}));
    auto* time_axis = qobject_cast<QValueAxis*>(window.ChartView->chart()->axes(Qt::Horizontal)[0]);
    QVERIFY(time_axis->titleText().contains(QStringLiteral("Read Raw Data")));

    // Period on the vertical axis.
    window.ShowPeriod->click();
    QCOMPARE(Points(window)[0].y(), results[0]);

    form.mnuRestorePulses->setChecked(true);
    int seen_at_second_frame = -1;
    uitest::RunFrames(*rig->form, rig->input, 3, [&] {
      if (form.state().CurrentFrame == 2) seen_at_second_frame = Points(window).size();
    });
    // Between frames 1 and 2 the chart shows frame 0: each frame is drawn while the next one
    // is awaited.
    QCOMPARE(seen_at_second_frame, 1);
    QCOMPARE(form.run_series().timing(), FrameTiming::StartTimes);
    QCOMPARE(Points(window).size(), static_cast<int>(form.run_series().points().size()));
    QCOMPARE(Pieces(window).size(), 1);
    // Drawn frame by frame, the chart holds what drawing the whole run at once gives.
    RunChart whole(form.run_series());
    whole.SetQuantity(ChartQuantity::Period);
    QList<QPointF> whole_points;
    for (QAbstractSeries* series : whole.chart()->series()) {
      whole_points.append(qobject_cast<QLineSeries*>(series)->points());
    }
    QCOMPARE(Points(window), whole_points);
    QVERIFY(!time_axis->titleText().contains(QStringLiteral("Read Raw Data")));
    // The scripted input times no edges: a live frame without a precise reading says only that.
    QCOMPARE(window.PreciseNote->text(), QStringLiteral("No precise reading for this frame."));
    // The run's pulses were restored, and the readout says so.
    QVERIFY(window.ExtraReadout->text().startsWith(QStringLiteral("Restore Pulses")));
    form.mnuRestorePulses->setChecked(false);
  }

  // A resize after a run analyses frame CurrentFrame again: the one after the run's last,
  // whose row still holds the replay before the run. The log shows it; the chart, its readout
  // and its CSV take only the frames the run recorded.
  void ResizeAfterARunAddsNoFrame() {
    Form1& form = *rig->form;
    form.Command5[1]->click();
    form.mnuRunChart->trigger();
    RunChartWindow& window = *form.run_chart_window();
    uitest::RunFrames(form, rig->input, 2);
    QCOMPARE(form.state().CurrentFrame, 2);
    const std::string csv = form.run_series().CsvText(1);
    const QList<QPointF> points = Points(window);
    QCOMPARE(points.size(), 2);
    const QString readout = window.DetailReadout->text();
    const std::string log = form.LogText();
    form.resize(form.width() + 30, form.height() + 20);
    QTRY_VERIFY(form.LogText().size() > log.size());
    QCOMPARE(form.LogText().substr(0, log.size()), log);
    QVERIFY(form.LogText().substr(log.size()).starts_with(" 2   "));
    QCOMPARE(form.run_series().CsvText(1), csv);
    QCOMPARE(Points(window), points);
    QCOMPARE(window.DetailReadout->text(), readout);
  }

  // Pulses per revolution change the readout and the chart only, and are remembered.
  void PulsesPerRevolutionAreRemembered() {
    Form1& form = *rig->form;
    form.Command5[1]->click();
    form.mnuRunChart->trigger();
    RunChartWindow& window = *form.run_chart_window();
    QCOMPARE(window.PulsesPerRev->value(), 1.0);
    QCOMPARE(window.PulsesPerRev->maximum(), 1000.0);
    const auto results = form.state().FrameResults;
    // A fractional ratio typed with a comma, whatever the locale.
    window.PulsesPerRev->selectAll();
    QTest::keyClicks(window.PulsesPerRev, QStringLiteral("2,5"));
    QCOMPARE(window.PulsesPerRev->value(), 2.5);
    QCOMPARE(window.RpmReadout->text(),
             QString::fromStdString(FormatPattern(24.0 / results[2], "0.0") + " RPM"));
    window.PulsesPerRev->setValue(4);
    QCOMPARE(window.RpmReadout->text(),
             QString::fromStdString(FormatPattern(15.0 / results[2], "0.0") + " RPM"));
    QCOMPARE(Points(window)[1].y(), 15.0 / results[2]);
    QVERIFY(form.state().FrameResults == results);
    window.resize(640, 480);
    window.close();

    rig->form.reset();
    rig->Open();
    rig->form->UseSettingsFile(Settings());
    rig->form->mnuRunChart->trigger();
    QCOMPARE(rig->form->run_chart_window()->PulsesPerRev->value(), 4.0);
    QCOMPARE(rig->form->run_chart_window()->size(), QSize(640, 480));
    RunChartWindow& again = *rig->form->run_chart_window();
    QCOMPARE(again.RpmReadout->text(), QStringLiteral("no reading"));
    QVERIFY(again.Levels->isHidden());

    // A last frame without reading: its levels, and what to change.
    const std::vector<uint8_t> flat(2048, 128);
    std::string raw = " 0 \r\n";
    for (const uint8_t byte : flat) raw += " " + std::to_string(byte) + " \r\n";
    uitest::WriteFile(rig->File("Raw.txt"), raw);
    rig->form->Command5[1]->click();
    QCOMPARE(again.RpmReadout->text(), QStringLiteral("no reading"));
    QVERIFY(!again.Levels->isHidden());
    QCOMPARE(again.Levels->levels()->lowest, 128);
    QCOMPARE(again.Levels->levels()->highest, 128);
    QVERIFY(!again.ExtraReadout->isHidden());
    QVERIFY2(again.ExtraReadout->text().startsWith(QStringLiteral("The input stays between 128")),
             qPrintable(again.ExtraReadout->text()));
  }

  // The RPM limits, the alarm, the smoothing and the clock calibration of the run's input: a
  // bad entry is refused with a message, a frame outside the band turns the readout red and
  // beeps once, the chart shows the band, and all of it is kept.
  void LimitsAlarmSmoothingAndCalibration() {
    Form1& form = *rig->form;
    form.mnuRunChart->trigger();
    RunChartWindow& window = *form.run_chart_window();
    const QString input = form.DevicesBox->currentText();
    QVERIFY(window.ClockCalibration->isEnabled());
    rig->dialogs.shown.clear();
    Type(window.MaxRpm, QStringLiteral("150"));
    Type(window.MinRpm, QStringLiteral("fast"));
    Type(window.MinRpm, QStringLiteral("160"));
    Type(window.ClockCalibration, QStringLiteral("5000"));
    QCOMPARE(rig->dialogs.shown.size(), std::size_t{3});
    for (const Message& shown : rig->dialogs.shown) QCOMPARE(shown.icon, MessageIcon::Exclamation);
    QVERIFY(rig->dialogs.shown[1].text.starts_with("Minimum RPM 160 is above maximum RPM 150"));
    QCOMPARE(window.MinRpm->text(), QString());
    QCOMPARE(window.MaxRpm->text(), QStringLiteral("150"));
    QCOMPARE(window.ClockCalibration->text(), QString());
    Type(window.ClockCalibration, QStringLiteral("100"));
    QCOMPARE(window.ClockCalibration->text(), QStringLiteral("+100"));
    int beeps = 0;
    window.beep = [&] { ++beeps; };
    QVERIFY(!window.SoundAlarm->isChecked());
    window.SoundAlarm->setChecked(true);
    window.Smoothing->setCurrentIndex(window.Smoothing->findData(3));

    // Every frame of the run is 153.6 RPM, above the band.
    uitest::RunFrames(form, rig->input, 3);
    QCOMPARE(beeps, 3);
    QVERIFY(window.RpmReadout->styleSheet().contains(QStringLiteral("#d62728")));
    QCOMPARE(LimitLines(*window.ChartView->chart()), QList<double>{150.0});
    QVERIFY(window.DetailReadout->text().endsWith(QStringLiteral("mean of last 3 frames")));
    QCOMPARE(window.ClockReadout->text(),
             QStringLiteral("Precise readings corrected by +100 ppm, this input's clock "
                            "calibration."));
    Type(window.MaxRpm, QString());
    QCOMPARE(window.RpmReadout->styleSheet(), QString());
    QVERIFY(LimitLines(*window.ChartView->chart()).isEmpty());
    Type(window.MaxRpm, QStringLiteral("150"));
    window.close();

    rig->form.reset();
    rig->Open();
    rig->form->UseSettingsFile(Settings());
    rig->form->mnuRunChart->trigger();
    RunChartWindow& again = *rig->form->run_chart_window();
    QCOMPARE(again.MaxRpm->text(), QStringLiteral("150"));
    QVERIFY(again.SoundAlarm->isChecked());
    QCOMPARE(again.Smoothing->currentData().toInt(), 3);
    QCOMPARE(again.ClockCalibration->text(), QStringLiteral("+100"));
    // Kept for that input only; a run read back has no input to calibrate.
    again.SetRunInput(input + QStringLiteral(" 2"));
    QCOMPARE(again.rate_ppm(), 0.0);
    rig->form->Command5[1]->click();
    QVERIFY(!again.ClockCalibration->isEnabled());
  }

  // A double click on a point draws that frame as Draw Detailed Graph does, without asking.
  void DoubleClickDrawsTheFrame() {
    Form1& form = *rig->form;
    form.Command5[1]->click();
    form.mnuRunChart->trigger();
    RunChartWindow& window = *form.run_chart_window();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    rig->dialogs.shown.clear();
    QChart* chart = window.ChartView->chart();
    const QPointF scene = chart->mapToPosition(Points(window)[1], Pieces(window)[0]);
    const QPoint at = window.ChartView->mapFromScene(scene);
    QTest::mouseDClick(window.ChartView->viewport(), Qt::LeftButton, {}, at);

    WindowRig reference;
    reference.Open();
    uitest::WriteFile(reference.File("Raw.txt"), RawFile());
    reference.form->Command5[1]->click();
    reference.dialogs.shown.clear();
    reference.dialogs.replies.push_back("2");
    reference.form->Command2->click();

    QVERIFY(rig->dialogs.asked.empty());
    QCOMPARE(rig->dialogs.ShownTexts(), reference.dialogs.ShownTexts());
    QCOMPARE(form.state().FoundMax, reference.form->state().FoundMax);
    QCOMPARE(form.state().FoundNextMax, reference.form->state().FoundNextMax);
    QCOMPARE(form.scope[0]->grab().toImage(), reference.form->scope[0]->grab().toImage());
  }

  // Exports go through the save dialog, proposed in the program directory, and the atomic
  // writer with its messages.
  void ExportsWriteAtomically() {
    Form1& form = *rig->form;
    form.Command5[1]->click();
    form.mnuRunChart->trigger();
    RunChartWindow& window = *form.run_chart_window();
    QString proposed;
    QString answer = QString::fromStdString(rig->File("run.csv").string());
    window.ask_save_path = [&](const QString&, const QString& path, const QString&) {
      proposed = path;
      return answer;
    };
    rig->dialogs.shown.clear();
    window.ExportCsv();
    QCOMPARE(proposed, QString::fromStdString(rig->File("run-chart.csv").string()));
    QCOMPARE(ReadFile(rig->File("run.csv")), form.run_series().CsvText(1));
    QCOMPARE(rig->dialogs.ShownTexts(), std::vector<std::string>{"Done"});

    answer = QString::fromStdString(rig->File("run.png").string());
    window.ExportPng();
    QImage image;
    QVERIFY(image.load(answer));
    QCOMPARE(image.size(), window.ChartView->chart()->size().toSize());

    rig->dialogs.shown.clear();
    {
      ScopedWriteFailure full_disk(10);
      window.ExportCsv();
    }
    QCOMPARE(rig->dialogs.shown.size(), std::size_t{1});
    QCOMPARE(rig->dialogs.shown[0].icon, MessageIcon::Exclamation);
    QCOMPARE(ReadFile(rig->File("run.csv")), form.run_series().CsvText(1));

    answer.clear();  // Cancel
    rig->dialogs.shown.clear();
    window.ExportSvg();
    QVERIFY(rig->dialogs.shown.empty());
  }

  // Offscreen, the picture has the size asked for and the line lies where its values put it,
  // with nothing drawn across a gap.
  void RenderedLineLiesOnItsValues() {
    RunSeries series;
    series.Begin(FrameTiming::FrameNumber);
    const std::vector<double> periods{0.5, 0.25, 0.0, 0.4, 0.3};
    for (int frame = 0; frame < static_cast<int>(periods.size()); ++frame) {
      series.Publish(frame, periods[static_cast<std::size_t>(frame)], frame * 4.0);
    }
    RunChart chart(series);
    chart.chart()->resize(640, 400);
    QImage image;
    QVERIFY(image.loadFromData(
        QByteArray::fromStdString(RenderChart(*chart.chart(), ImageFormat::Png))));
    QCOMPARE(image.size(), QSize(640, 400));

    QAbstractSeries* any = chart.chart()->series()[0];
    const QColor line(31, 119, 180);
    for (const RunPoint& point : series.points()) {
      if (!point.HasReading()) continue;
      const QPointF at =
          chart.chart()->mapToPosition(QPointF(point.time_s, 60.0 / point.period_s), any);
      QVERIFY2(NearColor(image, at, line, 2), qPrintable(QString::number(point.frame)));
    }
    // Halfway between the readings on either side of the gap there is no line.
    const QPointF across = chart.chart()->mapToPosition(QPointF(8.0, (240.0 + 150.0) / 2), any);
    QVERIFY(!NearColor(image, across, line, 2));
    // Halfway between two joined readings there is.
    const QPointF joined = chart.chart()->mapToPosition(QPointF(2.0, (120.0 + 240.0) / 2), any);
    QVERIFY(NearColor(image, joined, line, 2));
  }

  // A run that starts without a reading gets the vertical axis that drawing it whole gives,
  // not one stretched down to 0.
  void LiveAndWholeDrawingShareTheVerticalAxis() {
    RunSeries series;
    series.Begin(FrameTiming::FrameNumber);
    RunChart live(series);
    const std::vector<double> periods{0.0, 0.5, 0.52, 0.49, 0.51};
    for (int frame = 0; frame < static_cast<int>(periods.size()); ++frame) {
      series.Publish(frame, periods[static_cast<std::size_t>(frame)], frame * 4.0);
      live.Append(frame);
    }
    RunChart whole(series);
    const auto range = [](RunChart& chart) {
      const auto* axis = qobject_cast<QValueAxis*>(chart.chart()->axes(Qt::Vertical)[0]);
      return std::pair(axis->min(), axis->max());
    };
    QCOMPARE(range(live), range(whole));
  }

  // A run whose frames have no reading is noted across the plot, until a reading comes.
  void NoReadingIsNoted() {
    RunSeries series;
    series.Begin(FrameTiming::FrameNumber);
    RunChart chart(series);
    chart.chart()->resize(640, 400);
    const auto svg = [&] { return RenderChart(*chart.chart(), ImageFormat::Svg); };
    const std::string note = "No frame has a reading.";
    QVERIFY(svg().find(note) == std::string::npos);  // nothing analysed yet
    for (int frame = 0; frame < 2; ++frame) {
      series.Publish(frame, 0.0, frame * 4.0);
      chart.Append(frame);
    }
    QVERIFY(svg().find(note) != std::string::npos);
    RunChart whole(series);
    whole.chart()->resize(640, 400);
    QVERIFY(RenderChart(*whole.chart(), ImageFormat::Svg).find(note) != std::string::npos);
    series.Publish(2, 0.5, 8.0);
    chart.Append(2);
    QVERIFY(svg().find(note) == std::string::npos);
  }

  // The precise line beside the frame detector's, each alone, and a ring on each frame whose
  // readings disagree; drawn frame by frame it is what drawing the run whole gives.
  void PreciseLinesAndDisagreementMarks() {
    const auto precise = [](double period) {
      PreciseReading reading;
      reading.has_reading = period > 0.0;
      reading.period_s = period;
      reading.edges = 10;
      return reading;
    };
    RunSeries series;
    series.Begin(FrameTiming::FrameNumber);
    RunChart live(series);
    const std::vector<std::pair<double, double>> frames{
        {0.5, 0.5}, {0.078125, 0.04}, {0.0, 0.02}, {0.3, 0.0}};
    for (int frame = 0; frame < 4; ++frame) {
      const auto& [period, timed] = frames[static_cast<std::size_t>(frame)];
      series.Publish(frame, period, frame * 4.0, precise(timed));
      live.Append(frame);
    }
    struct Drawn {
      QList<QList<QPointF>> frame_lines, precise_lines;
      QList<QPointF> marks;
      bool operator==(const Drawn&) const = default;
    };
    const auto drawn = [](RunChart& chart) {
      Drawn d;
      for (QAbstractSeries* s : chart.chart()->series()) {
        if (auto* scatter = qobject_cast<QScatterSeries*>(s)) {
          d.marks = scatter->points();
        } else if (auto* line = qobject_cast<QLineSeries*>(s)) {
          (line->pen().color() == QColor(31, 119, 180) ? d.frame_lines : d.precise_lines)
              .append(line->points());
        }
      }
      return d;
    };
    const Drawn both = drawn(live);
    QCOMPARE(both.frame_lines,
             (QList<QList<QPointF>>{{{0.0, 120.0}, {4.0, 768.0}}, {{12.0, 200.0}}}));
    QCOMPARE(both.precise_lines,
             (QList<QList<QPointF>>{{{0.0, 120.0}, {4.0, 1500.0}, {8.0, 3000.0}}}));
    QCOMPARE(both.marks, (QList<QPointF>{{4.0, 1500.0}, {8.0, 3000.0}}));
    RunChart whole(series);
    QVERIFY(drawn(whole) == both);

    whole.SetLines(ChartLines::Precise);
    QVERIFY(drawn(whole).frame_lines.isEmpty());
    QCOMPARE(drawn(whole).precise_lines, both.precise_lines);
    whole.SetLines(ChartLines::Frame);
    QCOMPARE(drawn(whole).frame_lines, both.frame_lines);
    QVERIFY(drawn(whole).precise_lines.isEmpty());
    // On the detector's point where it has one.
    QCOMPARE(drawn(whole).marks, (QList<QPointF>{{4.0, 768.0}, {8.0, 3000.0}}));
  }

  // A run of 10,000 frames is drawn thinned, live and whole, and a one-frame spike or dip
  // still reaches the drawing.
  void LongRunsAreThinnedToTheirExtremes() {
    RunSeries series;
    series.Begin(FrameTiming::FrameNumber);
    // A small plot thins early, which keeps the test quick.
    RunChart live(series);
    live.chart()->resize(400, 300);
    const auto precise = [](double period) {
      PreciseReading reading;
      reading.has_reading = true;
      reading.period_s = period;
      reading.edges = 10;
      return reading;
    };
    for (int frame = 0; frame < 10000; ++frame) {
      const double period = frame == 6000   ? 0.25
                            : frame == 7000 ? 1.0
                                            : 0.5 + 0.01 * ((frame * 7919) % 13) / 13.0;
      series.Publish(frame, period, frame * 4.0, precise(frame == 8000 ? 0.2 : period));
      live.Append(frame);
    }
    RunChart whole(series);
    whole.chart()->resize(400, 300);
    whole.Rebuild();
    for (RunChart* chart : {&live, &whole}) {
      QList<QPointF> frame_points, precise_points;
      for (QAbstractSeries* s : chart->chart()->series()) {
        if (auto* line = qobject_cast<QLineSeries*>(s)) {
          (line->pen().color() == QColor(31, 119, 180) ? frame_points : precise_points)
              .append(line->points());
        }
      }
      QVERIFY2(frame_points.size() < 5000, qPrintable(QString::number(frame_points.size())));
      const auto [low, high] = std::minmax_element(
          frame_points.begin(), frame_points.end(),
          [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
      QCOMPARE(low->y(), 60.0);
      QCOMPARE(high->y(), 240.0);
      double precise_high = 0.0;
      for (const QPointF& p : precise_points) precise_high = std::max(precise_high, p.y());
      QCOMPARE(precise_high, 300.0);
      QCOMPARE(frame_points.back().x(), 39996.0);
      const auto* axis = qobject_cast<QValueAxis*>(chart->chart()->axes(Qt::Vertical)[0]);
      QVERIFY(axis->min() <= 60.0 && axis->max() >= 300.0);
    }
    QCOMPARE(series.points().size(), std::size_t{10000});
  }

 private:
  QString Settings() const { return QString::fromStdString(rig->File("chart.ini").string()); }

  std::unique_ptr<WindowRig> rig;
};

}  // namespace fc

QTEST_MAIN(fc::RunChartTest)
#include "run_chart_test.moc"

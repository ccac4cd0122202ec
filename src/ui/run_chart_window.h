#pragma once

#include <QDoubleSpinBox>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/message.h"
#include "chart/run_chart.h"
#include "chart/run_series.h"
#include "ui/level_bar.h"

class QChartView;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSettings;
namespace fc {

// Pulses per revolution, 0.001 to 1000 with 3 decimals, read by the batch program's own reader:
// a point or a comma before the decimals, whatever the locale.
class PulsesPerRevBox : public QDoubleSpinBox {
 public:
  explicit PulsesPerRevBox(QWidget* parent = nullptr);
  QValidator::State validate(QString& text, int& position) const override;
  double valueFromText(const QString& text) const override;
  QString textFromValue(double value) const override;
};

// The "Run Chart" window: a large readout of the last analysed frame, the chart of the whole
// run and its exports. It shows a RunSeries kept by the main window and changes nothing in
// the measurement.
class RunChartWindow : public QWidget {
  Q_OBJECT

 public:
  // The window's place and the pulses per revolution are remembered in `settings`.
  // `program_directory` is what the save dialog proposes.
  RunChartWindow(const RunSeries& series, std::unique_ptr<QSettings> settings,
                 QString program_directory, Dialogs& dialogs, QWidget* parent = nullptr);
  ~RunChartWindow() override;

  // The series was emptied for a new run, or changed in a way the chart does not follow
  // point by point: the next Flush draws it again.
  void SeriesReset();
  // One frame was published. The chart follows at the next Flush.
  void FramePublished(const SeriesChange& change);
  // Brings the chart and the readout up to the series: frames added at the end are appended,
  // anything else redraws. Returns whether anything changed.
  bool Flush();
  // The input levels of the readout's frame, drawn under the big number; nothing hides them.
  void SetLevels(const std::optional<InputLevels>& levels);
  // Lines shown under the level bar (state of optional helpers, advice); an empty list hides
  // them.
  void SetReadoutExtras(const std::vector<std::string>& lines);
  // The input the run is recorded from, as the main window lists it; its clock calibration is
  // kept under this name. Empty for a run read back: no calibration then.
  void SetRunInput(const QString& name);
  // The card's clock against the system's, as the capture has measured it during the run.
  void SetCardClock(const std::optional<CardClock>& measured);
  double rate_ppm() const { return rate_ppm_; }
  const RpmLimits& limits() const { return limits_; }

  // Exports; each asks for the file through `ask_save_path` and writes it atomically.
  void ExportPng();
  void ExportSvg();
  void ExportCsv();

  // The save dialog: title, proposed path, filter; an empty answer cancels.
  std::function<QString(const QString&, const QString&, const QString&)> ask_save_path;
  // Called with the frame of a double-clicked point.
  std::function<void(int frame)> on_frame_chosen;
  // The alarm's sound: Qt's beep.
  std::function<void()> beep;

  // Controls.
  QLabel* RpmReadout = nullptr;
  QLabel* DetailReadout = nullptr;
  QLabel* StatisticsReadout = nullptr;
  QLabel* PreciseNote = nullptr;  // "frame reading disagrees", or why there is no precise reading
  LevelBar* Levels = nullptr;
  QLabel* ExtraReadout = nullptr;
  PulsesPerRevBox* PulsesPerRev = nullptr;
  QRadioButton* ShowRpm = nullptr;
  QRadioButton* ShowPeriod = nullptr;
  QRadioButton* ShowBothLines = nullptr;
  QRadioButton* ShowPreciseLine = nullptr;
  QRadioButton* ShowFrameLine = nullptr;
  QLineEdit* MinRpm = nullptr;
  QLineEdit* MaxRpm = nullptr;
  QCheckBox* SoundAlarm = nullptr;
  QComboBox* Smoothing = nullptr;  // the big number's mean of the last 1, 3 or 10 frames
  QLineEdit* ClockCalibration = nullptr;  // ppm, for the run's input
  QLabel* ClockCalibrationLabel = nullptr;
  QLabel* ClockReadout = nullptr;  // in seconds of the card's clock or corrected; its measure
  QChartView* ChartView = nullptr;
  QPushButton* ExportPngButton = nullptr;
  QPushButton* ExportSvgButton = nullptr;
  QPushButton* ExportCsvButton = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void UpdateReadout();
  // The limit boxes were edited: their band, or a message and the band kept.
  void ApplyLimits();
  void ApplyCalibration();
  QString CalibrationKey() const;
  void Export(const QString& title, const QString& file_name, const QString& filter,
              const std::function<std::string()>& bytes);
  void SaveGeometry();

  const RunSeries& series_;
  std::unique_ptr<QSettings> settings_;
  QString program_directory_;
  Dialogs& dialogs_;
  std::unique_ptr<RunChart> chart_;
  std::size_t drawn_points_ = 0;  // points of the series that the chart shows
  bool redraw_ = true;            // the chart must be drawn again from the series
  std::size_t judged_points_ = 0;  // points of the series checked against the band
  RpmLimits limits_;
  QString input_;
  double rate_ppm_ = 0.0;
  std::optional<CardClock> card_clock_;
  bool warning_ = false;  // a message on a typed value is up
};

}  // namespace fc

#include "ui/run_chart_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QUrl>
#include <QVBoxLayout>

#include <initializer_list>

#include "files/atomic_file.h"

namespace fc {

namespace {

const QString kGeometryKey = QStringLiteral("RunChart/geometry");
const QString kPulsesKey = QStringLiteral("RunChart/pulsesPerRev");
const QString kMinRpmKey = QStringLiteral("RunChart/minRpm");
const QString kMaxRpmKey = QStringLiteral("RunChart/maxRpm");
const QString kAlarmKey = QStringLiteral("RunChart/soundAlarm");
const QString kSmoothingKey = QStringLiteral("RunChart/smoothing");
const QString kCalibrationGroup = QStringLiteral("RunChart/clockPpm/");
constexpr int kSmoothingChoices[] = {1, 3, 10};
constexpr int kRpmPixelSize = 56;

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

PulsesPerRevBox::PulsesPerRevBox(QWidget* parent) : QDoubleSpinBox(parent) {
  setDecimals(kPulsesPerRevDecimals);
  setRange(kMinPulsesPerRev, kMaxPulsesPerRev);
}

QValidator::State PulsesPerRevBox::validate(QString& text, int&) const {
  if (ReadPulsesPerRev(text.toStdString(), "Pulses per revolution")) return QValidator::Acceptable;
  // Part of a number still being typed ("", "2,", "0.000").
  for (const QChar c : text) {
    if (!c.isDigit() && c != QLatin1Char('.') && c != QLatin1Char(',') && c != QLatin1Char(' ')) {
      return QValidator::Invalid;
    }
  }
  return QValidator::Intermediate;
}

double PulsesPerRevBox::valueFromText(const QString& text) const {
  const Result<double> read = ReadPulsesPerRev(text.toStdString(), "Pulses per revolution");
  return read ? read.value() : value();
}

QString PulsesPerRevBox::textFromValue(double value) const {
  return Q(FormatPulsesPerRev(value));
}

RunChartWindow::RunChartWindow(const RunSeries& series, std::unique_ptr<QSettings> settings,
                               QString program_directory, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window),
      series_(series),
      settings_(std::move(settings)),
      program_directory_(std::move(program_directory)),
      dialogs_(dialogs),
      chart_(std::make_unique<RunChart>(series)) {
  setObjectName(QStringLiteral("RunChart"));
  setWindowTitle(QStringLiteral("Run Chart"));
  ask_save_path = [this](const QString& title, const QString& proposed, const QString& filter) {
    return QFileDialog::getSaveFileName(this, title, proposed, filter);
  };
  beep = [] { QApplication::beep(); };

  RpmReadout = new QLabel(this);
  RpmReadout->setObjectName(QStringLiteral("RpmReadout"));
  QFont big = RpmReadout->font();
  big.setPixelSize(kRpmPixelSize);
  big.setBold(true);
  RpmReadout->setFont(big);
  DetailReadout = new QLabel(this);
  DetailReadout->setObjectName(QStringLiteral("DetailReadout"));
  QFont detail = DetailReadout->font();
  detail.setPixelSize(18);
  DetailReadout->setFont(detail);
  StatisticsReadout = new QLabel(this);
  StatisticsReadout->setObjectName(QStringLiteral("StatisticsReadout"));
  StatisticsReadout->setWordWrap(true);
  PreciseNote = new QLabel(this);
  PreciseNote->setObjectName(QStringLiteral("PreciseNote"));
  PreciseNote->setFont(detail);
  PreciseNote->setWordWrap(true);
  Levels = new LevelBar(this);
  Levels->hide();
  ExtraReadout = new QLabel(this);
  ExtraReadout->setObjectName(QStringLiteral("ExtraReadout"));
  ExtraReadout->setWordWrap(true);
  ExtraReadout->hide();
  ClockReadout = new QLabel(this);
  ClockReadout->setObjectName(QStringLiteral("ClockReadout"));
  ClockReadout->setWordWrap(true);

  PulsesPerRev = new PulsesPerRevBox(this);
  PulsesPerRev->setObjectName(QStringLiteral("PulsesPerRev"));
  PulsesPerRev->setValue(settings_->value(kPulsesKey, 1.0).toDouble());
  ShowRpm = new QRadioButton(QStringLiteral("RPM"), this);
  ShowPeriod = new QRadioButton(QStringLiteral("Period (s)"), this);
  ShowRpm->setChecked(true);
  auto* axis_group = new QButtonGroup(this);
  axis_group->addButton(ShowRpm);
  axis_group->addButton(ShowPeriod);
  ShowBothLines = new QRadioButton(QStringLiteral("Both"), this);
  ShowPreciseLine = new QRadioButton(QStringLiteral("Precise"), this);
  ShowFrameLine = new QRadioButton(QStringLiteral("Frame"), this);
  ShowBothLines->setToolTip(QStringLiteral("Draw the frame detector's line and the precise one"));
  ShowPreciseLine->setToolTip(
      QStringLiteral("Draw only the edge timer's precise line (seconds of the card's clock)"));
  ShowFrameLine->setToolTip(QStringLiteral("Draw only the frame detector's line"));
  ShowBothLines->setChecked(true);
  auto* lines_group = new QButtonGroup(this);
  for (QRadioButton* button : {ShowBothLines, ShowPreciseLine, ShowFrameLine}) {
    lines_group->addButton(button);
  }

  // A limit kept in the settings was checked when it was typed; one edited by hand that no
  // longer reads is no limit.
  MinRpm = new QLineEdit(this);
  MinRpm->setObjectName(QStringLiteral("MinRpm"));
  MaxRpm = new QLineEdit(this);
  MaxRpm->setObjectName(QStringLiteral("MaxRpm"));
  for (QLineEdit* box : {MinRpm, MaxRpm}) {
    box->setPlaceholderText(QStringLiteral("none"));
    box->setMaximumWidth(70);
  }
  const auto kept_limits = ReadRpmLimits(settings_->value(kMinRpmKey).toString().toStdString(),
                                         settings_->value(kMaxRpmKey).toString().toStdString());
  if (kept_limits) limits_ = kept_limits.value();
  MinRpm->setText(Q(RpmLimitText(limits_.min_rpm)));
  MaxRpm->setText(Q(RpmLimitText(limits_.max_rpm)));
  SoundAlarm = new QCheckBox(QStringLiteral("Sound an alarm"), this);
  SoundAlarm->setObjectName(QStringLiteral("SoundAlarm"));
  SoundAlarm->setToolTip(QStringLiteral("Beep once for every frame outside the RPM limits"));
  SoundAlarm->setChecked(settings_->value(kAlarmKey, false).toBool());
  Smoothing = new QComboBox(this);
  Smoothing->setObjectName(QStringLiteral("Smoothing"));
  for (const int frames : kSmoothingChoices) {
    Smoothing->addItem(frames == 1 ? QStringLiteral("last frame")
                                   : QStringLiteral("mean of last %1 frames").arg(frames),
                       frames);
  }
  Smoothing->setToolTip(
      QStringLiteral("Only the big number is smoothed; the chart, the statistics and the CSV "
                     "keep every frame"));
  const int smoothing_index = Smoothing->findData(settings_->value(kSmoothingKey, 1).toInt());
  Smoothing->setCurrentIndex(smoothing_index < 0 ? 0 : smoothing_index);
  ClockCalibration = new QLineEdit(this);
  ClockCalibration->setObjectName(QStringLiteral("ClockCalibration"));
  ClockCalibration->setPlaceholderText(QStringLiteral("0"));
  ClockCalibration->setMaximumWidth(70);
  ClockCalibrationLabel = new QLabel(this);
  ClockCalibrationLabel->setWordWrap(true);  // input names can be long

  chart_->SetPulsesPerRev(PulsesPerRev->value());
  chart_->SetLimits(limits_);
  chart_->on_frame_chosen = [this](int frame) {
    if (on_frame_chosen) on_frame_chosen(frame);
  };
  ChartView = new QChartView(chart_->chart(), this);
  chart_->ReleaseChart();
  ChartView->setObjectName(QStringLiteral("ChartView"));
  ChartView->setRenderHint(QPainter::Antialiasing);
  ChartView->viewport()->installEventFilter(this);

  ExportPngButton = new QPushButton(QStringLiteral("Export PNG..."), this);
  ExportSvgButton = new QPushButton(QStringLiteral("Export SVG..."), this);
  ExportCsvButton = new QPushButton(QStringLiteral("Export CSV..."), this);

  auto* readout = new QVBoxLayout;
  readout->addWidget(RpmReadout);
  readout->addWidget(DetailReadout);
  readout->addWidget(StatisticsReadout);
  readout->addWidget(PreciseNote);
  readout->addWidget(ClockReadout);
  auto* levels_row = new QHBoxLayout;
  levels_row->addWidget(new QLabel(QStringLiteral("Input"), this));
  levels_row->addWidget(Levels, 1);
  readout->addLayout(levels_row);
  readout->addWidget(ExtraReadout);
  auto* options = new QVBoxLayout;
  // A label that names the control beside it, and gives it its keyboard shortcut.
  const auto label_for = [this](const char* text, QWidget* buddy) {
    auto* label = new QLabel(QString::fromUtf8(text), this);
    if (buddy != nullptr) label->setBuddy(buddy);
    return label;
  };
  const auto add_row = [options](std::initializer_list<QWidget*> widgets) {
    auto* row = new QHBoxLayout;
    for (QWidget* widget : widgets) row->addWidget(widget);
    options->addLayout(row);
  };
  add_row({label_for("Pulses per revolution", PulsesPerRev), PulsesPerRev});
  add_row({label_for("Vertical axis:", nullptr), ShowRpm, ShowPeriod});
  add_row({label_for("Lines:", nullptr), ShowBothLines, ShowPreciseLine, ShowFrameLine});
  add_row({label_for("RPM limits: min", MinRpm), MinRpm, label_for("max", MaxRpm), MaxRpm});
  options->addWidget(SoundAlarm);
  add_row({label_for("Big number:", Smoothing), Smoothing});
  ClockCalibrationLabel->setBuddy(ClockCalibration);
  add_row({ClockCalibrationLabel, ClockCalibration});
  options->addStretch();
  auto* top = new QHBoxLayout;
  top->addLayout(readout, 1);
  top->addLayout(options);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ExportPngButton);
  buttons->addWidget(ExportSvgButton);
  buttons->addWidget(ExportCsvButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(ChartView, 1);
  layout->addLayout(buttons);

  connect(PulsesPerRev, &QDoubleSpinBox::valueChanged, this, [this](double value) {
    settings_->setValue(kPulsesKey, value);
    chart_->SetPulsesPerRev(value);
    UpdateReadout();
  });
  connect(ShowPeriod, &QRadioButton::toggled, this, [this](bool period) {
    chart_->SetQuantity(period ? ChartQuantity::Period : ChartQuantity::Rpm);
    UpdateReadout();
  });
  connect(lines_group, &QButtonGroup::buttonToggled, this, [this](QAbstractButton*, bool on) {
    if (!on) return;
    chart_->SetLines(ShowPreciseLine->isChecked() ? ChartLines::Precise
                     : ShowFrameLine->isChecked() ? ChartLines::Frame
                                                  : ChartLines::Both);
  });
  connect(MinRpm, &QLineEdit::editingFinished, this, &RunChartWindow::ApplyLimits);
  connect(MaxRpm, &QLineEdit::editingFinished, this, &RunChartWindow::ApplyLimits);
  connect(SoundAlarm, &QCheckBox::toggled, this,
          [this](bool on) { settings_->setValue(kAlarmKey, on); });
  connect(Smoothing, &QComboBox::currentIndexChanged, this, [this] {
    settings_->setValue(kSmoothingKey, Smoothing->currentData().toInt());
    UpdateReadout();
  });
  connect(ClockCalibration, &QLineEdit::editingFinished, this,
          &RunChartWindow::ApplyCalibration);
  connect(ExportPngButton, &QPushButton::clicked, this, &RunChartWindow::ExportPng);
  connect(ExportSvgButton, &QPushButton::clicked, this, &RunChartWindow::ExportSvg);
  connect(ExportCsvButton, &QPushButton::clicked, this, &RunChartWindow::ExportCsv);

  if (!restoreGeometry(settings_->value(kGeometryKey).toByteArray())) resize(760, 560);
  SetRunInput(QString());
}

RunChartWindow::~RunChartWindow() = default;

void RunChartWindow::SeriesReset() {
  redraw_ = true;
  judged_points_ = 0;
}

void RunChartWindow::FramePublished(const SeriesChange& change) {
  if (change.kind != SeriesChange::Appended) redraw_ = true;
}

bool RunChartWindow::Flush() {
  const std::size_t points = series_.points().size();
  if (!redraw_ && points == drawn_points_) return false;
  if (redraw_ || points < drawn_points_) {
    chart_->Rebuild();
  } else {
    for (std::size_t i = drawn_points_; i < points; ++i) {
      chart_->Append(static_cast<int>(i));
    }
  }
  redraw_ = false;
  drawn_points_ = points;
  // One beep for the frames that came since the last look: during a run, one per frame.
  bool outside = false;
  if (points < judged_points_) judged_points_ = 0;
  for (std::size_t i = judged_points_; i < points && limits_.Any(); ++i) {
    outside = outside ||
              OutsideLimits(series_.points()[i], limits_, PulsesPerRev->value(), rate_ppm_);
  }
  judged_points_ = points;
  if (outside && SoundAlarm->isChecked() && beep) beep();
  UpdateReadout();
  return true;
}

void RunChartWindow::ApplyLimits() {
  if (warning_) return;  // the message's own focus change
  const auto read = ReadRpmLimits(MinRpm->text().toStdString(), MaxRpm->text().toStdString());
  if (!read) {
    MinRpm->setText(Q(RpmLimitText(limits_.min_rpm)));
    MaxRpm->setText(Q(RpmLimitText(limits_.max_rpm)));
    warning_ = true;
    dialogs_.Show(WarningMessage(read.error()));
    warning_ = false;
    return;
  }
  limits_ = read.value();
  MinRpm->setText(Q(RpmLimitText(limits_.min_rpm)));
  MaxRpm->setText(Q(RpmLimitText(limits_.max_rpm)));
  settings_->setValue(kMinRpmKey, MinRpm->text());
  settings_->setValue(kMaxRpmKey, MaxRpm->text());
  chart_->SetLimits(limits_);
  UpdateReadout();
}

QString RunChartWindow::CalibrationKey() const {
  // Input names hold blanks, slashes and colons; the key keeps them apart.
  return kCalibrationGroup + QString::fromLatin1(QUrl::toPercentEncoding(input_));
}

void RunChartWindow::SetRunInput(const QString& name) {
  input_ = name;
  rate_ppm_ = 0.0;
  if (!input_.isEmpty()) {
    const auto kept = ReadRatePpm(settings_->value(CalibrationKey()).toString().toStdString());
    if (kept) rate_ppm_ = kept.value();
  }
  ClockCalibration->setEnabled(!input_.isEmpty());
  ClockCalibration->setText(Q(RatePpmText(rate_ppm_)));
  ClockCalibrationLabel->setText(
      input_.isEmpty() ? QStringLiteral("Clock calibration (ppm):")
                       : QStringLiteral("Clock calibration (ppm) of %1:").arg(input_));
  ClockCalibration->setToolTip(
      input_.isEmpty()
          ? QStringLiteral("Start a run to calibrate the clock of its input")
          : QStringLiteral("How many ppm the sound card's clock runs fast (negative: slow); the "
                           "precise readings shown and exported are corrected by it"));
  card_clock_.reset();
  chart_->SetRatePpm(rate_ppm_);
  UpdateReadout();
}

void RunChartWindow::ApplyCalibration() {
  if (warning_ || input_.isEmpty()) return;
  const auto read = ReadRatePpm(ClockCalibration->text().toStdString());
  if (!read) {
    ClockCalibration->setText(Q(RatePpmText(rate_ppm_)));
    warning_ = true;
    dialogs_.Show(WarningMessage(read.error()));
    warning_ = false;
    return;
  }
  rate_ppm_ = read.value();
  ClockCalibration->setText(Q(RatePpmText(rate_ppm_)));
  settings_->setValue(CalibrationKey(), ClockCalibration->text());
  chart_->SetRatePpm(rate_ppm_);
  UpdateReadout();
}

void RunChartWindow::SetCardClock(const std::optional<CardClock>& measured) {
  card_clock_ = measured;
  ClockReadout->setText(Q(ClockText(rate_ppm_, card_clock_)));
}

void RunChartWindow::SetLevels(const std::optional<InputLevels>& levels) {
  Levels->SetLevels(levels);
  Levels->setVisible(levels.has_value());
}

void RunChartWindow::SetReadoutExtras(const std::vector<std::string>& lines) {
  QStringList texts;
  for (const std::string& line : lines) texts.append(Q(line));
  ExtraReadout->setText(texts.join(QLatin1Char('\n')));
  ExtraReadout->setVisible(!texts.isEmpty());
}

void RunChartWindow::UpdateReadout() {
  ReadoutOptions options;
  options.pulses_per_rev = PulsesPerRev->value();
  options.quantity = ShowPeriod->isChecked() ? ChartQuantity::Period : ChartQuantity::Rpm;
  options.smoothing = Smoothing->currentData().toInt();
  options.rate_ppm = rate_ppm_;
  const ReadoutText text = SeriesReadout(series_, options);
  const RunPoint* last = series_.Last();
  const bool outside =
      last != nullptr && OutsideLimits(*last, limits_, options.pulses_per_rev, rate_ppm_);
  RpmReadout->setText(Q(text.rpm));
  // A style sheet set again costs a new polish at every frame.
  const QString style = outside ? QStringLiteral("color: #d62728;") : QString();
  if (RpmReadout->styleSheet() != style) {
    RpmReadout->setStyleSheet(style);
    RpmReadout->setToolTip(outside ? QStringLiteral("This frame is outside the RPM limits.")
                                   : QString());
  }
  ClockReadout->setText(Q(ClockText(rate_ppm_, card_clock_)));
  ClockReadout->setVisible(!series_.without_precise());
  DetailReadout->setText(Q(text.detail));
  StatisticsReadout->setText(Q(StatisticsText(series_, PulsesPerRev->value())));
  PreciseNote->setText(Q(text.note));
  PreciseNote->setStyleSheet(text.disagrees ? QStringLiteral("color: #d62728; font-weight: bold;")
                                            : QString());
  PreciseNote->setVisible(!text.note.empty());
}

void RunChartWindow::Export(const QString& title, const QString& file_name, const QString& filter,
                            const std::function<std::string()>& bytes) {
  const QString path = ask_save_path(title, QDir(program_directory_).filePath(file_name), filter);
  if (path.isEmpty()) return;
  if (auto error = WriteFileAtomically(path.toStdString(), bytes())) {
    dialogs_.Show(WarningMessage(*error));
    return;
  }
  dialogs_.Show(DoneMessage());
}

void RunChartWindow::ExportPng() {
  Export(QStringLiteral("Export the chart as PNG"), QStringLiteral("run-chart.png"),
         QStringLiteral("PNG images (*.png)"),
         [this] { return RenderChart(*chart_->chart(), ImageFormat::Png); });
}

void RunChartWindow::ExportSvg() {
  Export(QStringLiteral("Export the chart as SVG"), QStringLiteral("run-chart.svg"),
         QStringLiteral("SVG images (*.svg)"),
         [this] { return RenderChart(*chart_->chart(), ImageFormat::Svg); });
}

void RunChartWindow::ExportCsv() {
  Export(QStringLiteral("Export the run as CSV"), QStringLiteral("run-chart.csv"),
         QStringLiteral("CSV files (*.csv)"),
         [this] { return series_.CsvText(PulsesPerRev->value(), rate_ppm_); });
}

bool RunChartWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ChartView->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton &&
        chart_->DoubleClickAt(ChartView->mapToScene(mouse->position().toPoint()))) {
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void RunChartWindow::SaveGeometry() { settings_->setValue(kGeometryKey, saveGeometry()); }

// An accepted close hides the window too.
void RunChartWindow::hideEvent(QHideEvent* event) {
  SaveGeometry();
  QWidget::hideEvent(event);
}

}  // namespace fc

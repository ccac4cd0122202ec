#include "ui/run_chart_window.h"

#include <QButtonGroup>
#include <QChartView>
#include <QDir>
#include <QFileDialog>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QVBoxLayout>

#include "files/atomic_file.h"

namespace fc {

namespace {

const QString kGeometryKey = QStringLiteral("RunChart/geometry");
const QString kPulsesKey = QStringLiteral("RunChart/pulsesPerRev");
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

  chart_->SetPulsesPerRev(PulsesPerRev->value());
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
  auto* levels_row = new QHBoxLayout;
  levels_row->addWidget(new QLabel(QStringLiteral("Input"), this));
  levels_row->addWidget(Levels, 1);
  readout->addLayout(levels_row);
  readout->addWidget(ExtraReadout);
  auto* options = new QVBoxLayout;
  auto* pulses_row = new QHBoxLayout;
  auto* pulses_label = new QLabel(QStringLiteral("Pulses per revolution"), this);
  pulses_label->setBuddy(PulsesPerRev);
  pulses_row->addWidget(pulses_label);
  pulses_row->addWidget(PulsesPerRev);
  options->addLayout(pulses_row);
  auto* axis_row = new QHBoxLayout;
  axis_row->addWidget(new QLabel(QStringLiteral("Vertical axis:"), this));
  axis_row->addWidget(ShowRpm);
  axis_row->addWidget(ShowPeriod);
  options->addLayout(axis_row);
  auto* lines_row = new QHBoxLayout;
  lines_row->addWidget(new QLabel(QStringLiteral("Lines:"), this));
  lines_row->addWidget(ShowBothLines);
  lines_row->addWidget(ShowPreciseLine);
  lines_row->addWidget(ShowFrameLine);
  options->addLayout(lines_row);
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
  connect(ExportPngButton, &QPushButton::clicked, this, &RunChartWindow::ExportPng);
  connect(ExportSvgButton, &QPushButton::clicked, this, &RunChartWindow::ExportSvg);
  connect(ExportCsvButton, &QPushButton::clicked, this, &RunChartWindow::ExportCsv);

  if (!restoreGeometry(settings_->value(kGeometryKey).toByteArray())) resize(760, 560);
  UpdateReadout();
}

RunChartWindow::~RunChartWindow() = default;

void RunChartWindow::SeriesReset() { redraw_ = true; }

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
  UpdateReadout();
  return true;
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
  const ReadoutText text =
      RunReadout(series_.Last(), PulsesPerRev->value(),
                 ShowPeriod->isChecked() ? ChartQuantity::Period : ChartQuantity::Rpm,
                 series_.without_precise());
  RpmReadout->setText(Q(text.rpm));
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
         [this] { return series_.CsvText(PulsesPerRev->value()); });
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

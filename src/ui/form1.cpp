#include "ui/form1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSettings>
#include <QTextCursor>
#include <cmath>
#include <ctime>
#include <memory>

#include "analysis/frame_analysis.h"
#include "analysis/frame_diagnosis.h"
#include "capture/audio_replay.h"
#include "capture/audiofile/audio_file_input.h"
#include "capture/audiofile/audio_recording.h"
#include "files/config_file.h"
#include "files/raw_data_file.h"
#include "files/results_file.h"
#include "tools/anticipation.h"
#include "tools/averaging.h"
#include "tools/frame_graph.h"
#include "tools/frame_prompt.h"
#include "ui/preferences.h"
#include "ui/run_chart_window.h"

namespace fc {

namespace {

constexpr int kTwipsPerPixel = 15;
// How long the size must stay unchanged before a resize counts as finished.
constexpr int kResizeSettleMs = 200;

int Pixels(int twips) {
  return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

template <typename W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* text) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
  return label;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The window's own choices that are not detection settings live in Qt's settings, so that
// Config.vmk keeps its eight lines.
const QString kSettingsOrganization = QStringLiteral("veldmark");
const QString kSettingsApplication = QStringLiteral("frequency-counter");
std::unique_ptr<QSettings> WindowSettings() {
  return std::make_unique<QSettings>(kSettingsOrganization, kSettingsApplication);
}
const QString kRestorePulsesKey = QStringLiteral("RestorePulses");
const QString kKeepRecordingsKey = QStringLiteral("KeepRecordings");
const QString kContinuePastStoreKey = QStringLiteral("ContinuePastStore");

}  // namespace

Form1::BusyScope::BusyScope(Form1& form) : form_(form) { ++form_.busy_depth_; }

Form1::BusyScope::~BusyScope() {
  --form_.busy_depth_;
  if (form_.busy_depth_ == 0 && form_.resize_pending_ && !form_.Ending()) {
    QTimer::singleShot(0, &form_, [form = &form_] {
      if (form->resize_pending_ && form->busy_depth_ == 0 && !form->Ending()) form->Form_Resize();
    });
  }
}

Form1::Form1(std::filesystem::path program_directory, Dialogs& dialogs, WaveInput& input,
             Clock& clock, QWidget* parent)
    : QMainWindow(parent),
      program_directory_(std::move(program_directory)),
      dialogs_(dialogs),
      input_(input),
      capture_(state_, *this, input, *this, clock),
      journal_(program_directory_, dialogs_),
      quit_([](int code) { QCoreApplication::exit(code); }) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8(kProgramTitle.data(), static_cast<int>(kProgramTitle.size())));
  CreateControls();
  CreateMenu();
  resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());

  resize_timer_.setSingleShot(true);
  resize_timer_.setInterval(kResizeSettleMs);
  connect(&resize_timer_, &QTimer::timeout, this, &Form1::OnResizeSettled);
  capture_.SetRunListener(&journal_);

  Load();
}

Form1::~Form1() = default;

void Form1::CreateControls() {
  client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  setCentralWidget(client);
  // The layout was designed for an 8-point sans-serif face at 96 dpi (about 11 pixels); the
  // controls' captions fit their fixed sizes only with a face of that size.
  QFont font = client->font();
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                    QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans Condensed"),
                    font.family()});
  font.setPixelSize(11);
  client->setFont(font);

  // Created in tab order, so the focus chain follows the design.
  StartButton =
      Place(new QPushButton(QStringLiteral("Start"), client), "StartButton", 240, 120, 1095, 495);
  Label1[0] = Place(MakeLabel(client, "Label1"), "Label1_0", 1440, 120, 2175, 375);
  Label1[1] = Place(MakeLabel(client, "Label1"), "Label1_1", 1440, 600, 2175, 375);
  StopButton =
      Place(new QPushButton(QStringLiteral("Stop"), client), "StopButton", 240, 840, 1095, 495);
  DevicesBox = Place(new QComboBox(client), "DevicesBox", 120, 1440, 3108, 315);
  Command1 =
      Place(new QPushButton(QStringLiteral("Write File"), client), "Command1", 240, 2040, 855, 375);
  Text1 =
      Place(new QPlainTextEdit(QStringLiteral("Text1"), client), "Text1", 240, 2520, 2655, 3735);
  scope[0] = Place(new PictureBox(client), "scope_0", 3720, 360, 7695, 2175);
  Command2 = Place(new QPushButton(QStringLiteral("Draw Detailed Graph"), client), "Command2", 3720,
                   2640, 2295, 375);
  Picture1 = Place(new PictureBox(client), "Picture1", 3720, 3120, 7695, 2175);
  Command3 = Place(new QPushButton(QStringLiteral("Antic. Next Frame"), client), "Command3", 1560,
                   1080, 1575, 255);
  Label2 = Place(MakeLabel(client, ""), "Label2", 1320, 1920, 2175, 375);
  Text2[0] = Place(new QLineEdit(client), "Text2_0", 5640, 5520, 855, 285);
  Label3[0] =
      Place(MakeLabel(client, "First Point for Average"), "Label3_0", 3720, 5520, 1815, 255);
  Label3[1] =
      Place(MakeLabel(client, "First Point for Average"), "Label3_1", 3720, 5880, 1815, 255);
  Text2[1] = Place(new QLineEdit(client), "Text2_1", 5640, 5880, 855, 285);
  Check1 = Place(new QCheckBox(QStringLiteral("Remove Bad Points from Average"), client), "Check1",
                 6720, 5520, 3135, 255);
  Command4 = Place(new QPushButton(QStringLiteral("Do Average"), client), "Command4", 6720, 5880,
                   1455, 255);
  Label3[2] = Place(MakeLabel(client, "Avg:  "), "Label3_2", 8520, 5880, 2895, 255);
  Command5[0] = Place(new QPushButton(QStringLiteral("Write Raw Data"), client), "Command5_0", 6360,
                      2640, 1935, 375);
  Command5[1] = Place(new QPushButton(QStringLiteral("Read Raw Data"), client), "Command5_1", 8760,
                      2640, 1935, 375);

  Command3->hide();
  Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Text1->setTabChangesFocus(true);

  // Label3 index 2 reads like a text field: the window-background colour behind window text.
  QPalette result_palette = Label3[2]->palette();
  result_palette.setColor(QPalette::Window, result_palette.color(QPalette::Base));
  result_palette.setColor(QPalette::WindowText, result_palette.color(QPalette::Text));
  Label3[2]->setPalette(result_palette);
  Label3[2]->setAutoFillBackground(true);

  // A grey Check1 comes only from the configuration file; a click leaves it a two-state box.
  connect(Check1, &QCheckBox::clicked, this, [this] { Check1->setTristate(false); });

  QWidget* previous = nullptr;
  for (QWidget* widget : std::initializer_list<QWidget*>{
           StartButton, StopButton, DevicesBox, Command1, Text1, scope[0], Command2, Picture1,
           Command3, Text2[0], Text2[1], Check1, Command4, Command5[0], Command5[1]}) {
    if (previous != nullptr) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }

  connect(StartButton, &QPushButton::clicked, this, &Form1::StartButton_Click);
  connect(StopButton, &QPushButton::clicked, this, &Form1::StopButton_Click);
  connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
  connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
  for (int index = 0; index < static_cast<int>(Command5.size()); ++index) {
    connect(Command5[static_cast<std::size_t>(index)], &QPushButton::clicked, this,
            [this, index] { Command5_Click(index); });
  }
}

void Form1::CreateMenu() {
  auto named = [](auto* object, const char* name) {
    object->setObjectName(QString::fromLatin1(name));
    return object;
  };
  // File comes first, where desktop users look for opening a file.
  mnuFile = named(menuBar()->addMenu(QStringLiteral("File")), "mnuFile");
  mnuReadAudioFile =
      named(mnuFile->addAction(QStringLiteral("Read Audio File\u2026")), "mnuReadAudioFile");
  mnuReadAudioFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  connect(mnuReadAudioFile, &QAction::triggered, this, &Form1::mnuReadAudioFile_Click);
  mnuKeepRecordings =
      named(mnuFile->addAction(QStringLiteral("Keep Recordings")), "mnuKeepRecordings");
  mnuKeepRecordings->setCheckable(true);
  mnuKeepRecordings->setChecked(WindowSettings()->value(kKeepRecordingsKey, false).toBool());
  connect(mnuKeepRecordings, &QAction::toggled, this, &Form1::mnuKeepRecordings_Click);
  mnuContinuePastStore = named(mnuFile->addAction(QStringLiteral("Continue past 1001 Frames")),
                               "mnuContinuePastStore");
  mnuContinuePastStore->setCheckable(true);
  mnuContinuePastStore->setChecked(WindowSettings()->value(kContinuePastStoreKey, false).toBool());
  connect(mnuContinuePastStore, &QAction::toggled, this, &Form1::mnuContinuePastStore_Click);

  mnuPreferences = named(menuBar()->addMenu(QStringLiteral("Preferences")), "mnuPreferences");
  mnuConsecutive =
      named(mnuPreferences->addMenu(QStringLiteral("Consecutive Points")), "mnuConsecutive");
  mnu3 = named(mnuConsecutive->addAction(QStringLiteral("3 Consecutive Points")), "mnu3");
  mnu2 = named(mnuConsecutive->addAction(QStringLiteral("2 Consecutive Points")), "mnu2");
  mnu1 = named(mnuConsecutive->addAction(QStringLiteral("Just 1 point")), "mnu1");
  mnuMaxLimit = named(mnuPreferences->addAction(QStringLiteral("Max Limit")), "mnuMaxLimit");
  mnuJump =
      named(mnuPreferences->addAction(QStringLiteral("Jump in Counts to Look For")), "mnuJump");
  mnuZeroCrossing =
      named(mnuPreferences->addMenu(QStringLiteral("Look for 'Zero Crossing'")), "mnuZeroCrossing");
  mnuZeroYes = named(mnuZeroCrossing->addAction(QStringLiteral("Yes")), "mnuZeroYes");
  mnuZeroNo = named(mnuZeroCrossing->addAction(QStringLiteral("No")), "mnuZeroNo");
  mnuHiRes =
      named(mnuPreferences->addMenu(QStringLiteral("Use Hi-Res Time w Zero Crossing")), "mnuHiRes");
  mnuHiResYes = named(mnuHiRes->addAction(QStringLiteral("Yes")), "mnuHiResYes");
  mnuHiResNo = named(mnuHiRes->addAction(QStringLiteral("No")), "mnuHiResNo");

  // Marks come only from UpdateConsecutive; none is set in the initial design.
  for (QAction* action : {mnu3, mnu2, mnu1, mnuZeroYes, mnuZeroNo, mnuHiResYes, mnuHiResNo}) {
    action->setCheckable(true);
    action->setChecked(false);
  }

  connect(mnuPreferences, &QMenu::aboutToShow, this, &Form1::UpdateConsecutive);
  connect(mnu3, &QAction::triggered, this, [this] { mnuConsecutive_Click(3); });
  connect(mnu2, &QAction::triggered, this, [this] { mnuConsecutive_Click(2); });
  connect(mnu1, &QAction::triggered, this, [this] { mnuConsecutive_Click(1); });
  connect(mnuMaxLimit, &QAction::triggered, this, &Form1::mnuMaxLimit_Click);
  connect(mnuJump, &QAction::triggered, this, &Form1::mnuJump_Click);
  // Choosing a Yes/No item only sets the value; its mark follows at the next opening of the
  // menu, so the toggle Qt applies to a checkable item is undone.
  auto yes_no = [this](QAction* action, auto handler) {
    connect(action, &QAction::triggered, this, [action, handler](bool checked) {
      action->setChecked(!checked);
      handler();
    });
  };
  yes_no(mnuZeroYes, [this] { mnuZeroCrossing_Click(true); });
  yes_no(mnuZeroNo, [this] { mnuZeroCrossing_Click(false); });
  yes_no(mnuHiResYes, [this] { mnuHiRes_Click(true); });
  yes_no(mnuHiResNo, [this] { mnuHiRes_Click(false); });

  mnuRestorePulses =
      named(mnuPreferences->addAction(QStringLiteral("Restore Pulses (AC-coupled Input)")),
            "mnuRestorePulses");
  mnuRestorePulses->setCheckable(true);
  mnuRestorePulses->setChecked(WindowSettings()->value(kRestorePulsesKey, false).toBool());
  connect(mnuRestorePulses, &QAction::toggled, this, &Form1::mnuRestorePulses_Click);
  mnuView = named(menuBar()->addMenu(QStringLiteral("View")), "mnuView");
  mnuRunChart = named(mnuView->addAction(QStringLiteral("Run Chart")), "mnuRunChart");
  mnuRunChart->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(mnuRunChart, &QAction::triggered, this, &Form1::mnuRunChart_Click);
}

void Form1::Load() {
  // A missing or damaged file leaves the settings at 0 (the first activation applies the
  // defaults) and empties both range boxes.
  AveragingPanel panel = PanelFromControls();
  LoadConfiguration(FilePath(kConfigFileName), state_, panel);
  Text2[0]->setText(Q(panel.FirstText));
  Text2[1]->setText(Q(panel.LastText));
  SetCheck1Value(panel.Check1);

  state_.AnticCounts = 50.0f;

  const DeviceList& devices = capture_.InitDevices();
  if (Ending()) return;
  DevicesBox->clear();
  for (const std::string& name : devices.names) DevicesBox->addItem(Q(name));
  DevicesBox->setCurrentIndex(devices.selected);

  scope[0]->SetScale(0, 0, 1100, 300);
  Picture1->SetScale(0, 0, 50, 3);
}

// --- Controls' values ---

std::string Form1::LogText() const {
  QString text = Text1->toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return text.toStdString();
}

int Form1::Check1Value() const {
  switch (Check1->checkState()) {
    case Qt::Checked:
      return 1;
    case Qt::PartiallyChecked:
      return 2;
    case Qt::Unchecked:
      break;
  }
  return 0;
}

void Form1::SetCheck1Value(int value) {
  switch (value) {
    case 1:
      Check1->setTristate(false);
      Check1->setCheckState(Qt::Checked);
      break;
    case 2:
      Check1->setTristate(true);
      Check1->setCheckState(Qt::PartiallyChecked);
      break;
    default:
      Check1->setTristate(false);
      Check1->setCheckState(Qt::Unchecked);
      break;
  }
}

AveragingPanel Form1::PanelFromControls() const {
  AveragingPanel panel;
  panel.FirstText = Text2[0]->text().toStdString();
  panel.LastText = Text2[1]->text().toStdString();
  panel.Check1 = Check1Value();
  return panel;
}

// --- Buttons ---

void Form1::StartButton_Click() {
  BusyScope busy(*this);
  if (state_.hWaveIn == 0) {  // a change of the choice waits for the next run
    // A run a window that died since start-up left behind comes first; once recovered, it is
    // not overwritten by this Start.
    if (!journal_.BeforeStart(state_, *this)) {
      if (!Ending()) FlushRunChart();  // the recovered run, as after Read Raw Data
      return;
    }
    if (Ending()) return;
    restoring_pulses_ = mnuRestorePulses->isChecked();
    input_.RestorePulses(restoring_pulses_);
    capture_.SetContinuePastStore(mnuContinuePastStore->isChecked());
  }
  std::shared_ptr<AudioRecording> kept;
  if (state_.hWaveIn == 0 && mnuKeepRecordings->isChecked()) {
    auto made = AudioRecording::Create(NewRecordingPath());
    if (made) {
      kept = std::move(made.value());
      if (mnuContinuePastStore->isChecked()) kept->KeepInParts();
    } else {
      dialogs_.Show(WarningMessage(made.error() + " The run is recorded without keeping it."));
    }
    input_.KeepRecording(kept);
  }
  starting_input_ = DevicesBox->currentText();
  capture_.Start(DevicesBox->currentIndex());
  starting_input_.clear();
  if (kept) {
    input_.KeepRecording(nullptr);
    kept->Finish();
    if (auto failure = kept->TakeFailure(); failure && !Ending()) {
      dialogs_.Show(WarningMessage(*failure));
    }
  }
  if (!Ending()) FlushRunChart();
  // However the run ended (between frames, input lost, stopped during a wait), a close asked
  // for while a frame was awaited is carried out now and never left for a later run.
  HonourPendingClose();
}

void Form1::StopButton_Click() {
  BusyScope busy(*this);
  capture_.Stop();
}

void Form1::Command1_Click() {
  BusyScope busy(*this);
  dialogs_.Show(WriteResults(state_, FilePath(kResultsFileName)));
}

std::string Form1::AskFrameNumber() {
  return dialogs_.Ask(std::string(kFramePrompt), std::string(kFrameTitle),
                      std::string(kFrameDefaultAnswer));
}

void Form1::Command2_Click() {
  BusyScope busy(*this);
  const std::string answer = AskFrameNumber();
  if (Ending()) return;
  DrawGraph(answer);
}

void Form1::DrawDetailedGraphOf(int frame) {
  BusyScope busy(*this);
  DrawGraph(std::to_string(frame));
}

void Form1::DrawGraph(const std::string& answer) {
  if (auto message = DrawDetailedGraph(state_, *scope[0], answer)) dialogs_.Show(*message);
}

void Form1::Command3_Click() {
  BusyScope busy(*this);
  const std::string answer = AskFrameNumber();
  if (Ending()) return;
  if (auto message = AnticipateNextFrame(state_, *scope[0], answer)) dialogs_.Show(*message);
}

void Form1::Command4_Click() {
  BusyScope busy(*this);
  AveragingPanel panel = PanelFromControls();
  const std::string typed_first = panel.FirstText;
  const AverageOutcome outcome = DoAverage(state_, panel);
  if (panel.FirstText != typed_first) Text2[0]->setText(Q(panel.FirstText));
  if (outcome.label) Label3[2]->setText(Q(*outcome.label));
  if (outcome.warning) dialogs_.Show(*outcome.warning);
}

void Form1::Command5_Click(int index) {
  BusyScope busy(*this);
  if (index == 0) {
    dialogs_.Show(WriteRawData(state_, FilePath(kRawDataFileName)));
  } else {
    const RawReadOutcome outcome = ReadRawData(state_, *this, FilePath(kRawDataFileName));
    if (outcome.status != RawReadStatus::Invalid) series_.MarkWithoutPrecise();  // 256 Hz only
    FlushRunChart();  // the whole replay at once
    dialogs_.Show(outcome.message);
  }
}

// --- File ---

std::filesystem::path Form1::NewRecordingPath() const {
  return FilePath("Recording " + LocalTimeText(std::time(nullptr), '-').value_or("of unknown start") + ".flac");
}

void Form1::mnuReadAudioFile_Click() {
  const QString chosen = QFileDialog::getOpenFileName(
      this, QStringLiteral("Read Audio File"), QString::fromStdString(program_directory_.string()),
      QStringLiteral("Audio files (*.wav *.flac *.ogg *.oga *.opus *.aif *.aiff *.caf *.w64 "
                     "*.rf64);;All files (*)"));
  if (!chosen.isEmpty()) ReadAudioFile(chosen.toStdString());
}

void Form1::ReadAudioFile(const std::filesystem::path& path) {
  if (state_.hWaveIn != 0) return;  // a run records into the store
  BusyScope busy(*this);
  AudioFileInput input(path, AudioFileOptions{});
  QProgressDialog progress(QStringLiteral("Reading the audio file\u2026"), QStringLiteral("Cancel"),
                           0, kFrameCount, this);
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  ReplayOptions options;
  options.restore_pulses = mnuRestorePulses->isChecked();
  options.go_on = [&progress](int64_t frames) {
    progress.setValue(static_cast<int>(frames));
    QCoreApplication::processEvents();
    return !progress.wasCanceled();
  };
  const Result<ReplayOutcome> replay = ReplayAudio(state_, *this, input, options);
  progress.reset();
  if (!replay) {
    dialogs_.Show(WarningMessage(replay.error()));
    return;
  }
  FlushRunChart();  // the whole replay at once
  const ReplayOutcome& outcome = replay.value();
  if (outcome.position.ended_early) {
    dialogs_.Show(WarningMessage(outcome.position.ended_early_why));
  } else if (outcome.frames == 0) {
    dialogs_.Show(WarningMessage("The audio file \"" + path.string() +
                                 "\" holds less than one frame (4 seconds); nothing was read."));
  } else if (outcome.cancelled) {
    dialogs_.Show(WarningMessage("Reading was cancelled after " + std::to_string(outcome.frames) +
                                 " frames; those frames were kept."));
  } else {
    dialogs_.Show(DoneMessage());
  }
}

void Form1::mnuKeepRecordings_Click(bool on) { WindowSettings()->setValue(kKeepRecordingsKey, on); }

void Form1::mnuContinuePastStore_Click(bool on) {
  WindowSettings()->setValue(kContinuePastStoreKey, on);
}

// --- Preferences ---

void Form1::UpdateConsecutive() {
  const PreferenceMarks marks = RefreshPreferences(state_);
  if (marks.consecutive != 0) {
    mnu3->setChecked(marks.consecutive == 3);
    mnu2->setChecked(marks.consecutive == 2);
    mnu1->setChecked(marks.consecutive == 1);
  }
  mnuZeroYes->setChecked(marks.zero_crossing_yes);
  mnuZeroNo->setChecked(!marks.zero_crossing_yes);
  mnuHiResYes->setChecked(marks.hi_res_yes);
  mnuHiResNo->setChecked(!marks.hi_res_yes);
}

void Form1::mnuConsecutive_Click(int points) {
  state_.ConsecutivePoints = static_cast<int16_t>(points);
  UpdateConsecutive();
}

void Form1::mnuMaxLimit_Click() {
  BusyScope busy(*this);
  state_.MaxLimitCounts = AskSetting(dialogs_, kMaxLimitQuestion, state_.MaxLimitCounts);
}

void Form1::mnuJump_Click() {
  BusyScope busy(*this);
  state_.JumpCounts = AskSetting(dialogs_, kJumpQuestion, state_.JumpCounts);
}

void Form1::mnuZeroCrossing_Click(bool yes) { state_.LookForZeroCrossing = yes ? 1 : 0; }

void Form1::mnuHiRes_Click(bool yes) { state_.UseHiResTime = yes ? 1 : 0; }

void Form1::mnuRestorePulses_Click(bool on) { WindowSettings()->setValue(kRestorePulsesKey, on); }
// --- View ---

void Form1::UseSettingsFile(const QString& path) { chart_settings_file_ = path; }

void Form1::mnuRunChart_Click() {
  if (run_chart_ == nullptr) {
    auto settings = chart_settings_file_.isEmpty()
                        ? WindowSettings()
                        : std::make_unique<QSettings>(chart_settings_file_, QSettings::IniFormat);
    run_chart_ =
        new RunChartWindow(series_, std::move(settings),
                           QString::fromStdString(program_directory_.string()), dialogs_, this);
    run_chart_->on_frame_chosen = [this](int frame) { DrawDetailedGraphOf(frame); };
    // Before any run, the input a Start would open.
    run_chart_->SetRunInput(series_.empty() && run_input_.isEmpty() ? DevicesBox->currentText()
                                                                    : run_input_);
    FlushRunChart();
  }
  run_chart_->show();
  run_chart_->raise();
  run_chart_->activateWindow();
}

// --- Window events ---

void Form1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The settings leave their start-up zeros when the window is first shown, activated or not
  // (focus-stealing prevention). Later showings and activations refresh nothing: the refresh
  // resets SecondPointOffset, so a detailed graph would depend on a switch to another window.
  if (!activated_once_ && !Ending()) {
    activated_once_ = true;
    UpdateConsecutive();
  }
  // A run left behind by a crash is offered back once the window is up.
  if (!recovery_offered_) {
    recovery_offered_ = true;
    QTimer::singleShot(0, this, [this] {
      if (Ending()) return;
      BusyScope busy(*this);
      journal_.OfferRecovery(state_, *this);
      if (!Ending()) FlushRunChart();
    });
  }
}

void Form1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // The first show and anything before it is no change of size; neither is a move.
  if (!activated_once_ || !isVisible() || !event->oldSize().isValid() ||
      event->size() == event->oldSize() || Ending()) {
    return;
  }
  resize_timer_.start();
}

void Form1::OnResizeSettled() {
  if (Ending()) return;
  // Not in the middle of another handler (nor while a frame is awaited): it runs when that
  // handler ends, or when the capture loop next processes input.
  if (busy_depth_ > 0) {
    resize_pending_ = true;
    return;
  }
  Form_Resize();
}

void Form1::Form_Resize() {
  resize_pending_ = false;
  BusyScope busy(*this);
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  if (Ending()) return;
  // Frame CurrentFrame is re-analysed whatever it holds; past the end of the store there is
  // no frame to analyse.
  if (state_.RunStarted && state_.CurrentFrame >= 0 && state_.CurrentFrame <= kLastFrame) {
    reanalysing_ = true;
    AnalyzeFrame(state_, *this);
    reanalysing_ = false;
    FlushRunChart();
  }
}

void Form1::closeEvent(QCloseEvent* event) {
  if (Ending()) {  // EndProgram, or already unloaded: nothing more to do
    event->accept();
    return;
  }
  if (unloading_ || frame_wait_depth_ > 0) {
    // A close asked for while a frame is awaited waits for the capture loop's next look at
    // pending input, like a click would.
    if (!unloading_) close_pending_ = true;
    event->ignore();
    return;
  }
  Unload();
  event->accept();
}

void Form1::Unload() {
  unloading_ = true;
  resize_timer_.stop();
  resize_pending_ = false;
  capture_.Unload();
  if (auto error = SaveConfiguration(FilePath(kConfigFileName), state_, PanelFromControls())) {
    dialogs_.Show(WarningMessage(*error));
  }
  journal_.EndedNormally();
  unloaded_ = true;
  quit_(0);
}

// --- Display ---

void Form1::SetFrameLabel(int index, const std::string& text) {
  Label1.at(static_cast<std::size_t>(index))->setText(Q(text));
}

void Form1::AppendLog(const std::string& text) {
  QString lines = Q(text);
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QTextCursor cursor(Text1->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(lines);
  QScrollBar* bar = Text1->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void Form1::ClearLog() { Text1->clear(); }

Picture& Form1::Trace() { return *Picture1; }

Picture& Form1::Scope() { return *scope[0]; }

void Form1::RunBegun(FrameTiming timing) {
  series_.Begin(timing);
  run_input_ = starting_input_;
  if (run_chart_ == nullptr) return;
  run_chart_->SeriesReset();
  run_chart_->SetRunInput(run_input_);
}

void Form1::FramePublished(const MeasurementState& state, int frame, double period) {
  // After a run or between two frames, CurrentFrame is the frame not yet recorded, whose row
  // and start time are left from an earlier run: its re-analysis goes to the log only.
  // Once the store has started again, the chart takes the run's frame numbers and times.
  const int64_t run_frame = state.RunFrame(frame);
  std::optional<SeriesChange> change;
  if (reanalysing_) {
    change = series_.Revise(static_cast<int>(run_frame), period);
  } else if (state.RunFramesBefore == 0) {
    change = series_.Record(state, frame, period);
  } else {
    change = series_.Publish(
        static_cast<int>(run_frame), period,
        state.StoreStartSeconds + FrameTimeSeconds(state, series_.timing(), frame),
        state.PreciseResults[static_cast<std::size_t>(std::clamp(frame, 0, kLastFrame))]);
  }
  if (run_chart_ == nullptr || !change) return;
  // The chart follows when the handler that publishes has done (Read Raw Data, a resize), and
  // during a run while the next frame is awaited, not between two frames.
  run_chart_->FramePublished(*change);
}

void Form1::FlushRunChart() {
  if (run_chart_ != nullptr && run_chart_->Flush()) UpdateRunChartReadout();
}

void Form1::UpdateRunChartReadout() {
  std::vector<std::string> lines;
  // The restorer shapes what a capture records; a replay shows the samples as they were kept.
  if (restoring_pulses_ && series_.timing() == FrameTiming::StartTimes) {
    lines.push_back("Restore Pulses (AC-coupled Input) is on for this run.");
  }
  const RunPoint* last = series_.Last();
  // The chart numbers the frames of the run and the store holds the current 1001 of them: a
  // frame outside them (past the rows of a long replay) has no row to diagnose.
  const int64_t row = last == nullptr ? -1 : last->frame - state_.RunFramesBefore;
  if (row < 0 || row > kLastFrame) {
    run_chart_->SetLevels(std::nullopt);
  } else {
    const FrameDiagnosis diagnosis = DiagnoseFrame(state_, static_cast<int>(row));
    run_chart_->SetLevels(diagnosis.levels);
    if (std::string advice = NoReadingAdvice(diagnosis); !advice.empty()) {
      lines.push_back(std::move(advice));
    }
  }
  run_chart_->SetReadoutExtras(lines);
  std::optional<CardClock> clock;
  if (!run_input_.isEmpty()) {
    if (const auto rate = capture_.card_rate()) clock = CardClock{rate->ppm, rate->span_s};
  }
  run_chart_->SetCardClock(clock);
}

// --- Host ---

void Form1::ProcessPendingInput() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  // A menu or drop-down list opened here is used to its end before the next frame is queued,
  // as a modal menu would be; left open during the wait, each of its clicks would wait a frame.
  while (QApplication::activePopupWidget() != nullptr && !Ending()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  if (Ending()) return;
  HonourPendingClose();
  if (Ending()) return;
  if (resize_pending_) Form_Resize();
}

void Form1::HonourPendingClose() {
  if (!close_pending_) return;
  close_pending_ = false;
  if (!Ending()) close();
}

void Form1::WaitBriefly() {
  FlushRunChart();
  ++frame_wait_depth_;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  --frame_wait_depth_;
}

void Form1::EndProgram() {
  journal_.EndedNormally();  // Cancel at the time-out: the user gave the run up
  ending_ = true;
  resize_timer_.stop();
  resize_pending_ = false;
  hide();
  quit_(0);
}

void Form1::SetStartEnabled(bool enabled) { StartButton->setEnabled(enabled); }

void Form1::SetStopEnabled(bool enabled) { StopButton->setEnabled(enabled); }

void Form1::ShowCommand3() { Command3->show(); }

void Form1::SetAverageLabel(const std::string& text) { Label2->setText(Q(text)); }

void Form1::SetFileButtonsEnabled(bool enabled) {
  mnuReadAudioFile->setEnabled(enabled);
  Command1->setEnabled(enabled);
  Command5[0]->setEnabled(enabled);
  Command5[1]->setEnabled(enabled);
}

}  // namespace fc

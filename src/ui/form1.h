#pragma once

#include <QMainWindow>
#include <QString>
#include <QTimer>
#include <array>
#include <filesystem>
#include <functional>
#include <string>

#include "analysis/display.h"
#include "analysis/measurement_state.h"
#include "analysis/message.h"
#include "capture/capture.h"
#include "capture/clock.h"
#include "capture/host.h"
#include "capture/wave_input.h"
#include "chart/run_series.h"
#include "analysis/averaging_panel.h"
#include "ui/journal_keeper.h"
#include "ui/picture_box.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace fc {

class RunChartWindow;

// The program's one window. It owns the controls, the Preferences menu and the measurement
// state, and runs every operation as a handler on the window's thread. It is the display the
// analysis publishes to and the host of the capture loop.
class Form1 : public QMainWindow, public Display, public Host {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 775;   // 11625 twips
  static constexpr int kClientHeight = 426;  // 6390 twips

  // Loads the window: configuration, AnticCounts, the device list, the picture scales.
  // When there is no capable input device the no-device message is shown and Ended() is true
  // afterwards: the caller must not show the window.
  Form1(std::filesystem::path program_directory, Dialogs& dialogs, WaveInput& input, Clock& clock,
        QWidget* parent = nullptr);
  ~Form1() override;

  // How the event loop is told to finish once the window has unloaded or the program ends
  // (QCoreApplication::exit by default).
  void SetQuitFunction(std::function<void(int)> quit) { quit_ = std::move(quit); }

  bool Ended() const { return ending_; }
  bool Unloaded() const { return unloaded_; }
  MeasurementState& state() { return state_; }
  const std::filesystem::path& program_directory() const { return program_directory_; }
  std::filesystem::path FilePath(std::string_view name) const { return program_directory_ / name; }

  // The text of the log Text1 with "\r\n" line ends, as the analysis appended it.
  std::string LogText() const;
  // Check1 as 0 (unticked), 1 (ticked) or 2 (grey).
  int Check1Value() const;
  void SetCheck1Value(int value);
  AveragingPanel PanelFromControls() const;
  // Whether the run in progress (or the last one) restores the pulses of an AC-coupled input:
  // the menu's choice as it stood at the last Start.
  bool RestoringPulses() const { return restoring_pulses_; }

  // Where the run chart keeps its window place and pulses per revolution (the user's Qt
  // settings unless set before the chart is first opened).
  void UseSettingsFile(const QString& path);
  // The analysed frames of the present run, as the run chart shows them.
  const RunSeries& run_series() const { return series_; }
  // The "Run Chart" window once it has been opened.
  RunChartWindow* run_chart_window() const { return run_chart_; }

  // Read Audio File (File menu): replays the file into the store as a capture would fill it,
  // at file speed with a progress dialog, then everything works as after Read Raw Data.
  void ReadAudioFile(const std::filesystem::path& path);
  // Where the window's kept recordings go; the default names a new file in the program
  // directory.
  std::filesystem::path NewRecordingPath() const;

  // --- Event handlers (also called by the tests) ---
  void StartButton_Click();
  void StopButton_Click();
  void Command1_Click();
  void Command2_Click();
  // Draw Detailed Graph of a frame chosen on the run chart: as the button after the number
  // has been typed.
  void DrawDetailedGraphOf(int frame);
  void Command3_Click();
  void Command4_Click();
  void Command5_Click(int index);
  void UpdateConsecutive();
  void mnuConsecutive_Click(int points);
  void mnuMaxLimit_Click();
  void mnuJump_Click();
  void mnuZeroCrossing_Click(bool yes);
  void mnuHiRes_Click(bool yes);
  void mnuRestorePulses_Click(bool on);
  void mnuRunChart_Click();
  void mnuReadAudioFile_Click();
  void mnuKeepRecordings_Click(bool on);
  void mnuContinuePastStore_Click(bool on);
  // The handling of a finished change of size (runs after the debounce).
  void Form_Resize();

  // --- Display ---
  void SetFrameLabel(int index, const std::string& text) override;
  void AppendLog(const std::string& text) override;
  void ClearLog() override;
  Picture& Trace() override;
  Picture& Scope() override;
  void RunBegun(FrameTiming timing) override;
  void FramePublished(const MeasurementState& state, int frame, double period) override;

  // --- Host of the capture loop ---
  Dialogs& dialogs() override { return dialogs_; }
  void ProcessPendingInput() override;
  void WaitBriefly() override;
  void EndProgram() override;
  bool Ending() const override { return ending_ || unloaded_; }
  void SetStartEnabled(bool enabled) override;
  void SetStopEnabled(bool enabled) override;
  void ShowCommand3() override;
  void SetAverageLabel(const std::string& text) override;
  void SetFileButtonsEnabled(bool enabled) override;

  // --- Controls, named as in the window's design ---
  QWidget* client = nullptr;
  QPushButton* StartButton = nullptr;
  std::array<QLabel*, 2> Label1{};
  QPushButton* StopButton = nullptr;
  QComboBox* DevicesBox = nullptr;
  QPushButton* Command1 = nullptr;
  QPlainTextEdit* Text1 = nullptr;
  std::array<PictureBox*, 1> scope{};
  QPushButton* Command2 = nullptr;
  PictureBox* Picture1 = nullptr;
  QPushButton* Command3 = nullptr;
  QLabel* Label2 = nullptr;
  std::array<QLineEdit*, 2> Text2{};
  std::array<QLabel*, 3> Label3{};
  QCheckBox* Check1 = nullptr;
  QPushButton* Command4 = nullptr;
  std::array<QPushButton*, 2> Command5{};

  QMenu* mnuFile = nullptr;
  QAction* mnuReadAudioFile = nullptr;
  QAction* mnuKeepRecordings = nullptr;
  QAction* mnuContinuePastStore = nullptr;
  QMenu* mnuPreferences = nullptr;
  QMenu* mnuConsecutive = nullptr;
  QAction* mnu3 = nullptr;
  QAction* mnu2 = nullptr;
  QAction* mnu1 = nullptr;
  QAction* mnuMaxLimit = nullptr;
  QAction* mnuJump = nullptr;
  QMenu* mnuZeroCrossing = nullptr;
  QAction* mnuZeroYes = nullptr;
  QAction* mnuZeroNo = nullptr;
  QMenu* mnuHiRes = nullptr;
  QAction* mnuHiResYes = nullptr;
  QAction* mnuHiResNo = nullptr;
  QAction* mnuRestorePulses = nullptr;
  QMenu* mnuView = nullptr;
  QAction* mnuRunChart = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Counts the handlers in progress; a settled resize waits until none runs, or until the
  // capture loop processes input between two frames.
  class BusyScope {
   public:
    explicit BusyScope(Form1& form);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    Form1& form_;
  };

  void CreateControls();
  void CreateMenu();
  void Load();
  void OnResizeSettled();
  std::string AskFrameNumber();  // the input box of the graph and the anticipation
  void DrawGraph(const std::string& answer);
  // Brings the run chart up to the series, with the readout's extra lines.
  void FlushRunChart();
  // The level bar of the chart's last frame, and the lines under it: whether the pulses of the
  // run are restored, and what to change when the frame has no reading.
  void UpdateRunChartReadout();
  void Unload();
  // Carries out a close that was asked for while a frame was awaited.
  void HonourPendingClose();

  std::filesystem::path program_directory_;
  Dialogs& dialogs_;
  WaveInput& input_;
  MeasurementState state_;
  Capture capture_;
  JournalKeeper journal_;
  std::function<void(int)> quit_;
  RunSeries series_;
  QString chart_settings_file_;
  QString starting_input_;  // the input a Start opens, until its run has begun
  QString run_input_;       // the input of the run in the series; empty for one read back
  RunChartWindow* run_chart_ = nullptr;  // a child window, deleted with this one

  QTimer resize_timer_;
  int busy_depth_ = 0;
  int frame_wait_depth_ = 0;
  bool activated_once_ = false;
  bool recovery_offered_ = false;
  bool resize_pending_ = false;
  bool reanalysing_ = false;  // a resize analyses frame CurrentFrame once more
  bool close_pending_ = false;
  bool unloading_ = false;
  bool unloaded_ = false;
  bool ending_ = false;
  bool restoring_pulses_ = false;
};

}  // namespace fc

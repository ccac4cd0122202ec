#include <signal.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>

#include "files/run_journal.h"
#include "pulse/private_server.h"
#include "ui_support.h"

using namespace fc;
using namespace fc::uitest;

namespace {

const std::size_t kRecordBytes = 2048 + kJournalRecordExtraBytes;

std::size_t JournalSize(const std::filesystem::path& home) {
  const auto path = home / kRunJournalFileName;
  return std::filesystem::exists(path) ? std::filesystem::file_size(path) : 0;
}

std::vector<std::filesystem::path> RecoveredFiles(const std::filesystem::path& home) {
  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::directory_iterator(home)) {
    if (entry.path().filename().string().starts_with("Recovered run "))
      found.push_back(entry.path());
  }
  return found;
}

// Waits for the question posted once the window is up; true when it asked about `frames`.
bool AskedAbout(const Message& message, int frames) {
  static const QRegularExpression question(
      QStringLiteral("^The last run \\((\\d+) frames?, started \\d{4}-\\d\\d-\\d\\d "
                     "\\d\\d:\\d\\d:\\d\\d\\) was not saved\\. Recover it\\?$"));
  const auto match = question.match(QString::fromStdString(message.text));
  return match.hasMatch() && match.captured(1).toInt() == frames &&
         message.buttons == MessageButtons::YesNo;
}

// A journal as a run of `frames` square frames of `bytes` bytes leaves it.
std::string SquareJournal(int frames, std::time_t started, uint32_t bytes = 2048) {
  std::vector<uint8_t> frame = SquareFrame();
  frame.resize(bytes, 128);
  const JournalSettings settings{kCaptureRate, 3, 2, 4, 5, 80, 0, 0, 50.0f};
  std::string out = JournalHeaderBytes(started, settings, bytes);
  for (int f = 0; f < frames; ++f) out += JournalRecordBytes(f, 4.0f * f, frame.data(), bytes);
  return out;
}

bool Holds(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return true;
  qWarning("\"%s\" not in \"%s\"", part.c_str(), text.c_str());
  return false;
}

int LineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

class RunJournalWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { rig = std::make_unique<WindowRig>(); }
  void cleanup() { rig.reset(); }

  // A window that dies mid-run leaves its journal; the next one offers the run back.
  void RecoveryYesAndNo() {
    rig->Open();
    QTest::qWait(50);
    QVERIFY(rig->dialogs.shown.empty());  // no journal: no question
    RunFrames(3);
    QCOMPARE(JournalSize(rig->Home()), kJournalHeaderBytes + 3 * kRecordBytes);
    rig->form.reset();  // a crash: no unload

    ClearDialogs();
    rig->dialogs.answers = {MessageAnswer::Yes};
    rig->Open();
    QTRY_COMPARE(rig->dialogs.shown.size(), std::size_t(2));
    QVERIFY(AskedAbout(rig->dialogs.shown[0], 3));
    QCOMPARE(rig->dialogs.shown[1].text, std::string("Done"));
    QCOMPARE(rig->form->LogText(), SquareLog(3));
    rig->form->Command5[0]->click();  // Write Raw Data works on the recovered run
    const std::vector<uint8_t> square = SquareFrame();
    QCOMPARE(ReadFile(rig->File("Raw.txt")), RawFileText(2, {square, square, square}));
    QVERIFY(JournalSize(rig->Home()) > 0);  // kept until the run is given up
    rig->form.reset();

    // No, on a journal cut inside its last frame: its complete frames go to a file aside.
    std::filesystem::resize_file(rig->File(".run-journal"), JournalSize(rig->Home()) - 100);
    ClearDialogs();
    rig->dialogs.answers = {MessageAnswer::No};
    rig->Open();
    QTRY_COMPARE(rig->dialogs.shown.size(), std::size_t(2));
    QVERIFY(AskedAbout(rig->dialogs.shown[0], 2));
    const auto aside = RecoveredFiles(rig->Home());
    QCOMPARE(aside.size(), std::size_t(1));
    QVERIFY(QRegularExpression(
                QStringLiteral("^Recovered run \\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d\\.txt$"))
                .match(QString::fromStdString(aside[0].filename().string()))
                .hasMatch());
    QCOMPARE(ReadFile(aside[0]), RawFileText(1, {square, square}));
    const std::string told = rig->dialogs.shown[1].text;
    QVERIFY2(told.find(aside[0].string()) != std::string::npos &&
                 told.find("2 complete frames") != std::string::npos,
             told.c_str());
    QVERIFY(!std::filesystem::exists(rig->File(".run-journal")));
    QCOMPARE(rig->form->LogText(), std::string("Text1"));  // the window is left as it opened
    rig->form.reset();

    ClearDialogs();
    rig->Open();
    QTest::qWait(50);
    QVERIFY(rig->dialogs.shown.empty());
    rig->form.reset();

    // Something that is no journal at all is renamed, not recovered and not deleted.
    WriteFile(rig->File(".run-journal"), "not a journal");
    rig->Open();
    QTRY_COMPARE(rig->dialogs.shown.size(), std::size_t(1));
    QVERIFY(rig->dialogs.shown[0].text.find(".run-journal.unreadable") != std::string::npos);
    QCOMPARE(ReadFile(rig->File(".run-journal.unreadable")), std::string("not a journal"));
    QVERIFY(!std::filesystem::exists(rig->File(".run-journal")));
  }

  // A second Start replaces the journal; closing the window, or Cancel at the time-out,
  // removes it.
  void EndingsReplaceOrRemoveTheJournal() {
    rig->Open();
    RunFrames(3);
    RunFrames(1);
    QCOMPARE(JournalSize(rig->Home()), kJournalHeaderBytes + kRecordBytes);
    QVERIFY(rig->form->close());
    QVERIFY(!std::filesystem::exists(rig->File(".run-journal")));

    rig->form.reset();
    rig->Open();
    rig->input.never_complete = {rig->input.queued_count() + 1};
    rig->dialogs.answers = {MessageAnswer::Cancel};
    rig->form->StartButton->click();
    QVERIFY(rig->form->Ended());
    QCOMPARE(rig->form->LogText(), SquareLog(1));
    QVERIFY(!std::filesystem::exists(rig->File(".run-journal")));
  }

  // A second window on the same directory records without a journal and says so once.
  void TwoWindowsTheLock() {
    rig->Open();
    RunFrames(3);
    const std::size_t first_run = JournalSize(rig->Home());

    FakeClock clock(0.0);
    ScriptedWaveInput input(clock);
    ScriptedDialogs dialogs;
    Form1 second(rig->Home(), dialogs, input, clock);
    second.SetQuitFunction([](int) {});
    second.show();
    QTest::qWait(50);
    QVERIFY(dialogs.shown.empty());  // the first window's journal is no run left behind
    fc::uitest::RunFrames(second, input, 1);
    fc::uitest::RunFrames(second, input, 2);
    QCOMPARE(second.LogText(), SquareLog(2));
    int told = 0;
    for (const std::string& text : dialogs.ShownTexts()) {
      told += text.find("Another window of the program holds the run journal") != std::string::npos
                  ? 1
                  : 0;
    }
    QCOMPARE(told, 1);
    QCOMPARE(JournalSize(rig->Home()), first_run);
    QVERIFY(second.close());
    QCOMPARE(JournalSize(rig->Home()), first_run);
    QVERIFY(rig->form->close());
    QVERIFY(!std::filesystem::exists(rig->File(".run-journal")));
  }

  // A journal is only ever a regular file at its own path: a link is neither followed when
  // Start writes nor created through when it leads nowhere; the run records without one.
  void LinksAreNeverFollowed() {
    WriteFile(rig->File("precious"), std::string(10000, 'p'));
    std::filesystem::create_symlink(rig->File("precious"), rig->File(".run-journal"));
    rig->Open();
    RunFrames(2);
    QCOMPARE(rig->form->LogText(), SquareLog(2));
    QVERIFY(Holds(rig->dialogs.shown.at(0).text, "is not a regular file"));
    QCOMPARE(ReadFile(rig->File("precious")), std::string(10000, 'p'));
    rig->form.reset();

    std::filesystem::remove(rig->File(".run-journal"));
    std::filesystem::create_symlink(rig->File("outside"), rig->File(".run-journal"));
    rig->Open();
    RunFrames(1);
    QVERIFY(!std::filesystem::exists(rig->File("outside")));
    QVERIFY(std::filesystem::is_symlink(rig->File(".run-journal")));
  }

  // A window that was open while another recorded offers that one's run, once it died, at its
  // own Start, before its new run replaces the journal.
  void StartOffersARunLeftBehindMeanwhile() {
    rig->Open();
    RunFrames(3);
    FakeClock clock(0.0);
    ScriptedWaveInput input(clock);
    ScriptedDialogs dialogs;
    Form1 second(rig->Home(), dialogs, input, clock);
    second.SetQuitFunction([](int) {});
    second.show();
    QTest::qWait(50);
    QVERIFY(dialogs.shown.empty());
    rig->form.reset();  // the first window dies

    dialogs.answers = {MessageAnswer::No};
    fc::uitest::RunFrames(second, input, 2);
    QVERIFY(!dialogs.shown.empty());
    QVERIFY(AskedAbout(dialogs.shown[0], 3));
    const auto aside = RecoveredFiles(rig->Home());
    QCOMPARE(aside.size(), std::size_t(1));
    const std::vector<uint8_t> square = SquareFrame();
    QCOMPARE(ReadFile(aside[0]), RawFileText(2, {square, square, square}));
    QCOMPARE(second.LogText(), SquareLog(2));
    QCOMPARE(JournalSize(rig->Home()), kJournalHeaderBytes + 2 * kRecordBytes);
  }

  // A journal that cannot be read whole is kept under a name of its own, never deleted; the
  // intact records after a damaged one come back; frames of another size are none of ours.
  void DamagedJournalsAreKeptAside() {
    std::string damaged = SquareJournal(3, 1'765'000'000);
    damaged[kJournalHeaderBytes + 100] ^= 0x01;  // a byte of frame 0
    WriteFile(rig->File(".run-journal"), damaged);
    rig->dialogs.answers = {MessageAnswer::Yes};
    rig->Open();
    QTRY_COMPARE(rig->dialogs.shown.size(), std::size_t(2));
    QVERIFY(AskedAbout(rig->dialogs.shown[0], 2));
    const std::string told = rig->dialogs.shown[1].text;
    QVERIFY(Holds(told, rig->File(".run-journal.damaged").string()));
    QVERIFY(Holds(told, "1 of its frames is damaged"));
    QVERIFY(Holds(told, "Its 2 intact frames were recovered."));
    QCOMPARE(rig->form->LogText(), SquareLog(2));
    QCOMPARE(ReadFile(rig->File(".run-journal.damaged")), damaged);
    QVERIFY(!std::filesystem::exists(rig->File(".run-journal")));
    rig->form.reset();

    for (const uint32_t bytes : {1024u, 4094u}) {
      const std::string other = SquareJournal(3, 1'765'000'000, bytes);
      WriteFile(rig->File(".run-journal"), other);
      ClearDialogs();
      rig->Open();
      QTRY_COMPARE(rig->dialogs.shown.size(), std::size_t(1));  // nothing is offered
      const auto kept = rig->File(bytes == 1024u ? ".run-journal.damaged (2)"
                                                 : ".run-journal.damaged (3)");
      QVERIFY(Holds(rig->dialogs.shown[0].text, kept.string()));
      QVERIFY(Holds(rig->dialogs.shown[0].text, std::to_string(bytes) + " bytes"));
      QCOMPARE(ReadFile(kept), other);
      QCOMPARE(rig->form->LogText(), std::string("Text1"));
      rig->form.reset();
    }
  }

  // The frames come back analysed with the settings the run recorded with, which are in force
  // again afterwards, not with the older ones of the configuration file.
  void RecoveryUsesTheRunsSettings() {
    rig->Open();
    rig->form->state().LookForZeroCrossing = 1;
    rig->form->state().UseHiResTime = 1;
    rig->form->state().AnticCounts = 70.0f;
    RunFrames(3);
    const std::string logged = rig->form->LogText();
    rig->form.reset();  // a crash: the settings never reach the configuration file

    ClearDialogs();
    rig->dialogs.answers = {MessageAnswer::Yes};
    rig->Open();
    QTRY_COMPARE(rig->dialogs.shown.size(), std::size_t(2));
    QCOMPARE(rig->form->LogText(), logged);
    QCOMPARE(rig->form->state().LookForZeroCrossing, int16_t(1));
    QCOMPARE(rig->form->state().UseHiResTime, int16_t(1));
    QCOMPARE(rig->form->state().AnticCounts, 70.0f);
  }

  // One frame is one frame, and a start time no run can have is said to be unknown.
  void TextsOfOneFrameAndAnUnknownStart() {
    const std::string one =
        SquareJournal(2, std::time_t{1} << 52).substr(0, kJournalHeaderBytes + kRecordBytes + 100);
    WriteFile(rig->File(".run-journal"), one);
    rig->dialogs.answers = {MessageAnswer::Yes};
    rig->Open();
    QTRY_COMPARE(rig->dialogs.shown.size(), std::size_t(2));
    QCOMPARE(rig->dialogs.shown[0].text,
             std::string("The last run (1 frame, start time unknown) was not saved. Recover it?"));
    QVERIFY(Holds(rig->dialogs.shown[1].text, ": its 1 complete frame was recovered."));
    rig->form.reset();

    ClearDialogs();
    rig->dialogs.answers = {MessageAnswer::No};
    rig->Open();
    QTRY_COMPARE(rig->dialogs.shown.size(), std::size_t(2));
    QVERIFY(Holds(rig->dialogs.shown[1].text, ": its 1 complete frame was kept."));
    QCOMPARE(ReadFile(rig->File("Recovered run of unknown start.txt")),
             RawFileText(0, {SquareFrame()}));
  }

  // The real program recording from a real sound server, killed outright: every frame it had
  // analysed comes back.
  void KilledMidRunIsOfferedBack() {
    testing::PrivateServer server;
    if (!server.Start(500000, 50000)) {
      if (testing::PrivateServer::required()) QFAIL(server.problem().c_str());
      QSKIP(server.problem().c_str());
    }
    const auto log_file = rig->File("log-before-kill");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QStringLiteral(FC_JOURNAL_CHILD),
                {QString::fromStdString(rig->Home().string()),
                 QString::fromStdString(server.address()), QString::fromStdString(log_file)});
    QVERIFY(child.waitForStarted());
    // Two frames take about 8 s; a loaded machine gets ample room.
    QTRY_VERIFY_WITH_TIMEOUT(LineCount(ReadFile(log_file)) >= 2, 60000);
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished());
    const std::string before_kill = ReadFile(log_file);
    std::filesystem::remove(log_file);

    rig->dialogs.answers = {MessageAnswer::Yes};
    rig->Open();
    QTRY_COMPARE(rig->dialogs.shown.size(), std::size_t(2));
    const std::string recovered = rig->form->LogText();
    QVERIFY(AskedAbout(rig->dialogs.shown[0], LineCount(recovered)));
    QCOMPARE(rig->dialogs.shown[1].text, std::string("Done"));
    // The child looks at its log only between frames, after the last one was journaled; one
    // more frame may have been journaled after its last look.
    QVERIFY(LineCount(recovered) >= LineCount(before_kill));
    QCOMPARE(recovered.substr(0, before_kill.size()), before_kill);
  }

  // Continue past 1001 Frames (off by default): each full store is written to a part file,
  // the journal holds the current store only, and a crash offers that store back.
  void ContinuingPastTheStoreKeepsEachStore() {
    rig->Open();
    QVERIFY(!rig->form->mnuContinuePastStore->isChecked());
    rig->form->mnuContinuePastStore->setChecked(true);
    RunFrames(1003);
    rig->form->mnuContinuePastStore->setChecked(false);   // the choice is kept in Qt's settings
    QCOMPARE(rig->dialogs.shown.size(), std::size_t(1));  // the stop report alone
    QVERIFY(Holds(rig->dialogs.shown[0].text, "Avg time per block = "));
    const std::string log = rig->form->LogText();
    QCOMPARE(log.substr(log.size() - 2 * 22), std::string(" 1001   .3906   .000\r\n"
                                                          " 1002   .3906   .000\r\n"));
    std::vector<std::filesystem::path> parts;
    for (const auto& entry : std::filesystem::directory_iterator(rig->Home())) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("Run ") && name.ends_with(" part 0001.txt")) parts.push_back(entry);
    }
    QCOMPARE(parts.size(), std::size_t(1));
    const std::vector<std::vector<uint8_t>> store(kFrameCount, SquareFrame());
    QVERIFY(ReadFile(parts[0]) == RawFileText(kLastFrame, store));
    QCOMPARE(JournalSize(rig->Home()), kJournalHeaderBytes + 2 * kRecordBytes);

    rig->form.reset();  // a crash
    ClearDialogs();
    rig->dialogs.answers = {MessageAnswer::Yes};
    rig->Open();
    QTRY_COMPARE(rig->dialogs.shown.size(), std::size_t(2));
    QVERIFY(AskedAbout(rig->dialogs.shown[0], 2));
  }

 private:
  void ClearDialogs() {
    rig->dialogs.shown.clear();
    rig->dialogs.answers.clear();
  }
  void RunFrames(int frames) { fc::uitest::RunFrames(*rig->form, rig->input, frames); }

  std::unique_ptr<WindowRig> rig;
};

QTEST_MAIN(RunJournalWindowTest)
#include "run_journal_window_test.moc"

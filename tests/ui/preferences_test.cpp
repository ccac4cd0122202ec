#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QSettings>

#include "ui/preferences.h"
#include "ui_support.h"

using namespace fc;
using namespace fc::uitest;

namespace {

const Message kJumpRefusal{"Value must be between 30 and 90.  Try again.", MessageButtons::Ok,
                           MessageIcon::None, ""};
const Message kMaxLimitRefusal{"Value must be between 5 and 40.  Try again.", MessageButtons::Ok,
                               MessageIcon::None, ""};

}  // namespace

class PreferencesTest : public QObject {
  Q_OBJECT

 private slots:
  // One answer to a question, then Cancel if it was refused.
  void OneAnswer_data() {
    QTest::addColumn<bool>("jump");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("kept");
    QTest::addColumn<bool>("refused");
    QTest::newRow("jump 30") << true << "30" << 30 << false;
    QTest::newRow("jump 90") << true << "90" << 90 << false;
    QTest::newRow("jump 29") << true << "29" << 80 << true;
    QTest::newRow("jump 91") << true << "91" << 80 << true;
    QTest::newRow("jump 45abc") << true << "45abc" << 45 << false;
    QTest::newRow("jump 4 5") << true << "4 5" << 45 << false;
    QTest::newRow("jump letters") << true << "abc" << 80 << true;
    QTest::newRow("jump 29.5 ties to even") << true << "29.5" << 30 << false;
    QTest::newRow("jump 90.5 ties to even") << true << "90.5" << 90 << false;
    QTest::newRow("jump 30.5 ties to even") << true << "30.5" << 30 << false;
    QTest::newRow("jump beyond 16 bits") << true << "65566" << 80 << true;
    QTest::newRow("jump huge") << true << "1e400" << 80 << true;
    QTest::newRow("jump blank") << true << " " << 80 << true;
    QTest::newRow("limit 5") << false << "5" << 5 << false;
    QTest::newRow("limit 40") << false << "40" << 40 << false;
    QTest::newRow("limit 4") << false << "4" << 7 << true;
    QTest::newRow("limit 41") << false << "41" << 7 << true;
    QTest::newRow("limit 4.5 ties to even") << false << "4.5" << 7 << true;
    QTest::newRow("limit 5.5 ties to even") << false << "5.5" << 6 << false;
    QTest::newRow("limit negative") << false << "-5" << 7 << true;
  }
  void OneAnswer() {
    QFETCH(bool, jump);
    QFETCH(QString, answer);
    QFETCH(int, kept);
    QFETCH(bool, refused);
    ScriptedDialogs dialogs;
    dialogs.replies = {answer.toStdString()};
    if (refused) dialogs.replies.push_back("");  // Cancel the question asked again
    const int16_t old_value = jump ? 80 : 7;
    const int16_t result = AskSetting(dialogs, jump ? kJumpQuestion : kMaxLimitQuestion, old_value);
    QCOMPARE(int(result), kept);
    QCOMPARE(dialogs.asked.size(), std::size_t(refused ? 2 : 1));
    for (const auto& question : dialogs.asked) {
      QCOMPARE(question.default_text, jump ? std::string("80") : std::string("7"));
    }
    if (refused) {
      QCOMPARE(dialogs.shown.size(), std::size_t(1));
      QVERIFY(dialogs.shown[0] == (jump ? kJumpRefusal : kMaxLimitRefusal));
    } else {
      QVERIFY(dialogs.shown.empty());
    }
  }

  void QuestionsTexts() {
    ScriptedDialogs dialogs;
    dialogs.replies = {"", ""};
    AskSetting(dialogs, kMaxLimitQuestion, 5);
    AskSetting(dialogs, kJumpQuestion, 80);
    QCOMPARE(dialogs.asked[0].prompt,
             std::string("Enter counts from Max/Min to call a pulse (from 5-40 counts)."));
    QCOMPARE(dialogs.asked[0].title, std::string("Enter Counts"));
    QCOMPARE(dialogs.asked[1].prompt,
             std::string("Enter jump in counts to look for preceeding the Max or Min counts "
                         "(from 30 to 90 counts)."));
    QCOMPARE(dialogs.asked[1].title, std::string("Enter Jump Counts"));
    QVERIFY(dialogs.shown.empty());
  }

  // The question is asked again, each time with the old value, until a value in range comes.
  void AsksAgainUntilInRange() {
    ScriptedDialogs dialogs;
    dialogs.replies = {"29", "abc", "91", "64"};
    QCOMPARE(int(AskSetting(dialogs, kJumpQuestion, 80)), 64);
    QCOMPARE(dialogs.asked.size(), std::size_t(4));
    for (const auto& question : dialogs.asked) QCOMPARE(question.default_text, std::string("80"));
    QCOMPARE(dialogs.shown.size(), std::size_t(3));
  }

  // --- The menu in the window ---

  void init() {
    rig = std::make_unique<WindowRig>();
  }
  void cleanup() { rig.reset(); }

  void FirstActivationSetsDefaultsAndMarks() {
    rig->Open();
    const MeasurementState& state = rig->form->state();
    QCOMPARE(int(state.ConsecutivePoints), 3);
    QCOMPARE(int(state.SecondPointOffset), 2);
    QCOMPARE(int(state.ThirdPointOffset), 4);
    QCOMPARE(int(state.MaxLimitCounts), 5);
    QCOMPARE(int(state.JumpCounts), 80);
    QCOMPARE(Marks(), QString("3 zero:No hires:No"));
  }

  void ConsecutiveChoicesMoveTheMark() {
    rig->Open();
    Form1& form = *rig->form;
    form.mnu2->trigger();
    QCOMPARE(Marks(), QString("2 zero:No hires:No"));
    QCOMPARE(int(form.state().ConsecutivePoints), 2);
    QCOMPARE(int(form.state().SecondPointOffset), 2);
    QCOMPARE(int(form.state().ThirdPointOffset), 0);
    form.mnu1->trigger();
    QCOMPARE(Marks(), QString("1 zero:No hires:No"));
    QCOMPARE(int(form.state().SecondPointOffset), 0);
    QCOMPARE(int(form.state().ThirdPointOffset), 0);
    form.mnu1->trigger();  // choosing the marked entry keeps its mark
    QCOMPARE(Marks(), QString("1 zero:No hires:No"));
    form.mnu3->trigger();
    QCOMPARE(Marks(), QString("3 zero:No hires:No"));
    QCOMPARE(int(form.state().ThirdPointOffset), 4);
  }

  // Yes/No items set the value at once; the marks follow when the menu is opened next.
  void YesNoMarksFollowAtTheNextOpening() {
    rig->Open();
    Form1& form = *rig->form;
    form.mnuZeroYes->trigger();
    QCOMPARE(int(form.state().LookForZeroCrossing), 1);
    form.mnuHiResYes->trigger();
    QCOMPARE(int(form.state().UseHiResTime), 1);
    QCOMPARE(Marks(), QString("3 zero:No hires:No"));
    OpenPreferences();
    QCOMPARE(Marks(), QString("3 zero:Yes hires:Yes"));
    form.mnuZeroNo->trigger();
    QCOMPARE(int(form.state().LookForZeroCrossing), 0);
    QCOMPARE(Marks(), QString("3 zero:Yes hires:Yes"));
    OpenPreferences();
    QCOMPARE(Marks(), QString("3 zero:No hires:Yes"));
  }

  // An edited configuration: 7 points shows no mark and leaves the offsets; out-of-range
  // limits get their defaults; a zero-crossing value of 2 shows as No.
  void OddConfigurationValues() {
    WriteFile(rig->File("Config.vmk"), " 7 \r\n 41 \r\n 29 \r\n\r\n\r\n 0 \r\n 2 \r\n 0 \r\n");
    rig->Open();
    const MeasurementState& state = rig->form->state();
    QCOMPARE(int(state.ConsecutivePoints), 7);
    QCOMPARE(int(state.SecondPointOffset), 0);
    QCOMPARE(int(state.ThirdPointOffset), 0);
    QCOMPARE(int(state.MaxLimitCounts), 5);
    QCOMPARE(int(state.JumpCounts), 80);
    QCOMPARE(int(state.LookForZeroCrossing), 2);
    QCOMPARE(Marks(), QString("- zero:No hires:No"));
    rig->form->mnu2->trigger();
    QCOMPARE(Marks(), QString("2 zero:No hires:No"));
  }

  // A return from another application is no first activation: the settings stay as they are
  // (a zero-crossing frame leaves SecondPointOffset at 0, and the graph depends on it).
  void ReturnFromAnotherApplicationRefreshesNothing() {
    rig->Open();
    MeasurementState& state = rig->form->state();
    state.SecondPointOffset = 0;
    state.JumpCounts = 95;
    QEvent leave(QEvent::WindowDeactivate);
    QApplication::sendEvent(rig->form.get(), &leave);
    QEvent back(QEvent::WindowActivate);
    QApplication::sendEvent(rig->form.get(), &back);
    QCOMPARE(int(state.SecondPointOffset), 0);
    QCOMPARE(int(state.JumpCounts), 95);
  }

  // Opening the menu refreshes the settings, as the first activation does.
  void OpeningTheMenuRefreshes() {
    rig->Open();
    MeasurementState& state = rig->form->state();
    state.ConsecutivePoints = 0;
    state.JumpCounts = 95;
    OpenPreferences();
    QCOMPARE(int(state.ConsecutivePoints), 3);
    QCOMPARE(int(state.JumpCounts), 80);
  }

  void MenuInputBoxes() {
    rig->Open();
    Form1& form = *rig->form;
    rig->dialogs.replies = {"29", "", "4", "12"};
    form.mnuJump->trigger();
    QCOMPARE(int(form.state().JumpCounts), 80);
    form.mnuMaxLimit->trigger();
    QCOMPARE(int(form.state().MaxLimitCounts), 12);
    const auto& asked = rig->dialogs.asked;
    QCOMPARE(asked.size(), std::size_t(4));
    QCOMPARE(asked[0].title, std::string("Enter Jump Counts"));
    QCOMPARE(asked[0].default_text, std::string("80"));
    QCOMPARE(asked[2].title, std::string("Enter Counts"));
    QCOMPARE(asked[2].default_text, std::string("5"));
    QCOMPARE(asked[3].default_text, std::string("5"));
    QCOMPARE(rig->dialogs.ShownTexts(),
             (std::vector<std::string>{"Value must be between 30 and 90.  Try again.",
                                       "Value must be between 5 and 40.  Try again."}));
    QVERIFY(!form.mnuMaxLimit->isChecked());
    QVERIFY(!form.mnuJump->isChecked());
  }

  // The restorer's item is off at first, is remembered in Qt's settings (not in Config.vmk)
  // and reaches the input only at a Start.
  void RestorePulsesItem() {
    RestorePulsesSetting().remove(QStringLiteral("RestorePulses"));
    rig->Open();
    Form1& form = *rig->form;
    QVERIFY(!form.mnuRestorePulses->isChecked());
    form.mnuRestorePulses->trigger();
    QVERIFY(!rig->input.restore_pulses);
    rig->input.fill = [&](int queue, uint8_t*, uint32_t) {
      if (queue == 0) form.mnuRestorePulses->trigger();  // off again during the run
      if (queue == 1) QTimer::singleShot(0, form.StopButton, &QPushButton::click);
    };
    form.StartButton->click();
    QCOMPARE(rig->input.queued_count(), 2);
    QVERIFY(rig->input.restore_pulses);
    QVERIFY(form.RestoringPulses());
    rig->input.fill = [&](int, uint8_t*, uint32_t) {
      QTimer::singleShot(0, form.StopButton, &QPushButton::click);
    };
    form.StartButton->click();
    QVERIFY(!rig->input.restore_pulses);
    QVERIFY(!form.RestoringPulses());

    form.mnuRestorePulses->trigger();
    QVERIFY(form.close());
    QCOMPARE(ReadFile(rig->File("Config.vmk")),
             std::string(" 3 \r\n 5 \r\n 80 \r\n\r\n\r\n 0 \r\n 0 \r\n 0 \r\n"));
    rig->form.reset();
    rig->Open();
    QVERIFY(rig->form->mnuRestorePulses->isChecked());
    RestorePulsesSetting().remove(QStringLiteral("RestorePulses"));
  }

 private:
  static QSettings RestorePulsesSetting() {
    return QSettings(QStringLiteral("veldmark"), QStringLiteral("frequency-counter"));
  }

  void OpenPreferences() {
    QMenu* menu = rig->form->mnuPreferences;
    menu->popup(rig->form->mapToGlobal(QPoint(0, 0)));
    QTRY_VERIFY(menu->isVisible());
    menu->hide();
  }

  // The marks as text: the marked consecutive entry ("-" for none; "?" for more than one),
  // then the Yes/No pairs ("?" when not exactly one of a pair is marked).
  QString Marks() const {
    const Form1& form = *rig->form;
    QString points = "-";
    int marked = 0;
    if (form.mnu3->isChecked()) {
      points = "3";
      ++marked;
    }
    if (form.mnu2->isChecked()) {
      points = "2";
      ++marked;
    }
    if (form.mnu1->isChecked()) {
      points = "1";
      ++marked;
    }
    if (marked > 1) points = "?";
    auto pair = [](const QAction* yes, const QAction* no) {
      if (yes->isChecked() == no->isChecked()) return QString("?");
      return yes->isChecked() ? QString("Yes") : QString("No");
    };
    return points + " zero:" + pair(form.mnuZeroYes, form.mnuZeroNo) +
           " hires:" + pair(form.mnuHiResYes, form.mnuHiResNo);
  }

  std::unique_ptr<WindowRig> rig;
};

QTEST_MAIN(PreferencesTest)
#include "preferences_test.moc"

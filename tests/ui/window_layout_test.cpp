#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>

#include "ui_support.h"

using namespace fc;
using namespace fc::uitest;

class WindowLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    rig = std::make_unique<WindowRig>();
    rig->input.devices = {{"Line In", true}, {"HDMI", false}, {"USB Mic", true}};
    rig->Open();
  }
  void cleanup() { rig.reset(); }

  void CaptionAndClientArea() {
    QCOMPARE(rig->form->windowTitle(), QStringLiteral("Veldmark Frequency Counter"));
    QCOMPARE(rig->form->centralWidget()->size(), QSize(775, 426));
    // The client area lies below the menu bar.
    QCOMPARE(rig->form->centralWidget()->y(), rig->form->menuBar()->height());
  }

  // Every control at its design position and size (twips / 15), with its first text.
  void ControlsAtTheirPlaces_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    auto row = [](const char* name, int x, int y, int w, int h, const char* text) {
      QTest::newRow(name) << QString::fromLatin1(name) << QRect(x, y, w, h) << QString::fromLatin1(text);
    };
    row("StartButton", 16, 8, 73, 33, "Start");
    row("Label1_0", 96, 8, 145, 25, "Label1");
    row("Label1_1", 96, 40, 145, 25, "Label1");
    row("StopButton", 16, 56, 73, 33, "Stop");
    row("DevicesBox", 8, 96, 207, 21, "Line In");
    row("Command1", 16, 136, 57, 25, "Write File");
    row("Text1", 16, 168, 177, 249, "Text1");
    row("scope_0", 248, 24, 513, 145, "");
    row("Command2", 248, 176, 153, 25, "Draw Detailed Graph");
    row("Picture1", 248, 208, 513, 145, "");
    row("Command3", 104, 72, 105, 17, "Antic. Next Frame");
    row("Label2", 88, 128, 145, 25, "");
    row("Text2_0", 376, 368, 57, 19, "");
    row("Label3_0", 248, 368, 121, 17, "First Point for Average");
    row("Label3_1", 248, 392, 121, 17, "First Point for Average");
    row("Text2_1", 376, 392, 57, 19, "");
    row("Check1", 448, 368, 209, 17, "Remove Bad Points from Average");
    row("Command4", 448, 392, 97, 17, "Do Average");
    row("Label3_2", 568, 392, 193, 17, "Avg:  ");
    row("Command5_0", 424, 176, 129, 25, "Write Raw Data");
    row("Command5_1", 584, 176, 129, 25, "Read Raw Data");
  }
  void ControlsAtTheirPlaces() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    auto* widget = rig->form->centralWidget()->findChild<QWidget*>(name);
    QVERIFY2(widget != nullptr, qPrintable(name));
    QCOMPARE(widget->parentWidget(), rig->form->centralWidget());
    QCOMPARE(widget->geometry(), geometry);
    QVERIFY(widget->isEnabled());
    QCOMPARE(widget->isVisible(), name != QStringLiteral("Command3"));
    QString shown;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) shown = button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) shown = label->text();
    if (auto* line = qobject_cast<QLineEdit*>(widget)) shown = line->text();
    if (auto* log = qobject_cast<QPlainTextEdit*>(widget)) shown = log->toPlainText();
    if (auto* box = qobject_cast<QComboBox*>(widget)) shown = box->currentText();
    QCOMPARE(shown, text);
  }

  void TabOrderFollowsTheDesign() {
    Form1& form = *rig->form;
    // The focusable controls, in design order (labels take no focus; Command3 is hidden).
    const QStringList expected{"StartButton", "StopButton", "DevicesBox", "Command1", "Text1",
                               "scope_0", "Command2", "Picture1", "Text2_0", "Text2_1",
                               "Check1", "Command4", "Command5_0", "Command5_1"};
    form.StartButton->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.StartButton));
    QStringList seen{QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size(); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      seen << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(seen, expected);
    // Once shown, Command3 takes its place after Picture1.
    form.Command3->show();
    QVERIFY(form.Picture1->nextInFocusChain() == form.Command3);
  }

  void ResultLabelLooksLikeAField() {
    const QLabel* label = rig->form->Label3[2];
    const QPalette app = QApplication::palette(label);
    QVERIFY(label->autoFillBackground());
    QCOMPARE(label->palette().color(QPalette::Window), app.color(QPalette::Base));
    QCOMPARE(label->palette().color(QPalette::WindowText), app.color(QPalette::Text));
  }

  void DeviceListHoldsTheCapableDevices() {
    const QComboBox* box = rig->form->DevicesBox;
    QCOMPARE(box->count(), 2);
    QCOMPARE(box->itemText(0), QStringLiteral("Line In"));
    QCOMPARE(box->itemText(1), QStringLiteral("USB Mic"));
    QCOMPARE(box->currentIndex(), 0);
  }

  void MenuTree() {
    Form1& form = *rig->form;
    const QList<QAction*> bar = form.menuBar()->actions();
    QCOMPARE(bar.size(), 3);
    QCOMPARE(bar[0]->text(), QStringLiteral("File"));
    QCOMPARE(bar[0]->menu(), form.mnuFile);
    QCOMPARE(bar[1]->text(), QStringLiteral("Preferences"));
    QCOMPARE(bar[1]->menu(), form.mnuPreferences);
    QCOMPARE(bar[2]->text(), QStringLiteral("View"));
    QCOMPARE(bar[2]->menu(), form.mnuView);

    auto captions = [](const QMenu* menu) {
      QStringList texts;
      for (const QAction* action : menu->actions()) texts << action->text();
      return texts;
    };
    QCOMPARE(captions(form.mnuPreferences),
             (QStringList{"Consecutive Points", "Max Limit", "Jump in Counts to Look For",
                          "Look for 'Zero Crossing'", "Use Hi-Res Time w Zero Crossing",
                          "Restore Pulses (AC-coupled Input)"}));
    QCOMPARE(captions(form.mnuConsecutive),
             (QStringList{"3 Consecutive Points", "2 Consecutive Points", "Just 1 point"}));
    QCOMPARE(captions(form.mnuZeroCrossing), (QStringList{"Yes", "No"}));
    QCOMPARE(captions(form.mnuHiRes), (QStringList{"Yes", "No"}));
    QCOMPARE(captions(form.mnuView), (QStringList{"Run Chart"}));
    QCOMPARE(captions(form.mnuFile), (QStringList{QString::fromUtf8("Read Audio File\u2026"),
                                                  "Keep Recordings", "Continue past 1001 Frames"}));
    QCOMPARE(form.mnuReadAudioFile->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    QVERIFY(form.mnuKeepRecordings->isCheckable());
    QCOMPARE(form.mnuPreferences->actions()[0]->menu(), form.mnuConsecutive);
    QCOMPARE(form.mnuPreferences->actions()[3]->menu(), form.mnuZeroCrossing);
    QCOMPARE(form.mnuPreferences->actions()[4]->menu(), form.mnuHiRes);
    QVERIFY(!form.mnuMaxLimit->isCheckable());
    QVERIFY(!form.mnuJump->isCheckable());
    for (QAction* action : form.findChildren<QAction*>()) QVERIFY(action->isEnabled());
  }

  // Resizing before any Start changes nothing but the layout.
  void ResizeBeforeAnyStartAnalysesNothing() {
    Form1& form = *rig->form;
    form.resize(form.width() + 40, form.height() + 30);
    QTest::qWait(400);
    QCOMPARE(form.LogText(), std::string("Text1"));
    QCOMPARE(form.Label1[1]->text(), QStringLiteral("Label1"));
    QCOMPARE(form.StartButton->geometry(), QRect(16, 8, 73, 33));
  }

 private:
  std::unique_ptr<WindowRig> rig;
};

QTEST_MAIN(WindowLayoutTest)
#include "window_layout_test.moc"

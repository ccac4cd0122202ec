#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>

#include "ui/qt_dialogs.h"

using namespace fc;

// Drives the real message and input boxes: checks what they show and answers them.
class QtDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void MessageBoxes_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("press");
    QTest::addColumn<int>("expected_answer");
    QTest::addColumn<QString>("expected_title");
    QTest::addColumn<int>("expected_icon");
    QTest::newRow("done") << int(MessageButtons::Ok) << int(MessageIcon::None) << "" << int(QMessageBox::Ok)
                          << int(MessageAnswer::Ok) << "Veldmark Frequency Counter" << int(QMessageBox::NoIcon);
    QTest::newRow("ack") << int(MessageButtons::Ok) << int(MessageIcon::Exclamation) << "Ack!"
                         << int(QMessageBox::Ok) << int(MessageAnswer::Ok) << "Ack!" << int(QMessageBox::Warning);
    QTest::newRow("no devices") << int(MessageButtons::Ok) << int(MessageIcon::Critical) << "Ack!"
                                << int(QMessageBox::Ok) << int(MessageAnswer::Ok) << "Ack!"
                                << int(QMessageBox::Critical);
    QTest::newRow("yes") << int(MessageButtons::YesNoCancel) << int(MessageIcon::None) << "Continue"
                         << int(QMessageBox::Yes) << int(MessageAnswer::Yes) << "Continue" << int(QMessageBox::NoIcon);
    QTest::newRow("no") << int(MessageButtons::YesNoCancel) << int(MessageIcon::None) << "Continue"
                        << int(QMessageBox::No) << int(MessageAnswer::No) << "Continue" << int(QMessageBox::NoIcon);
    QTest::newRow("cancel") << int(MessageButtons::YesNoCancel) << int(MessageIcon::None) << "Continue"
                            << int(QMessageBox::Cancel) << int(MessageAnswer::Cancel) << "Continue"
                            << int(QMessageBox::NoIcon);
    QTest::newRow("yes/no: no") << int(MessageButtons::YesNo) << int(MessageIcon::None) << ""
                                << int(QMessageBox::No) << int(MessageAnswer::No)
                                << "Veldmark Frequency Counter" << int(QMessageBox::NoIcon);
  }
  void MessageBoxes() {
    QFETCH(int, buttons);
    QFETCH(int, icon);
    QFETCH(QString, title);
    QFETCH(int, press);
    QFETCH(int, expected_answer);
    QFETCH(QString, expected_title);
    QFETCH(int, expected_icon);
    const Message message{"Timed Out.  Continue? <b>", static_cast<MessageButtons>(buttons),
                          static_cast<MessageIcon>(icon), title.toStdString()};
    QString seen_title, seen_text;
    QMessageBox::StandardButtons seen_buttons;
    int seen_icon = -1;
    WhenModal([&](QWidget* widget) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      QVERIFY(box != nullptr);
      seen_title = box->windowTitle();
      seen_text = box->text();
      seen_buttons = box->standardButtons();
      seen_icon = box->icon();
      box->button(static_cast<QMessageBox::StandardButton>(press))->click();
    });
    QtDialogs dialogs;
    QCOMPARE(int(dialogs.Show(message)), expected_answer);
    QCOMPARE(seen_title, expected_title);
    QCOMPARE(seen_text, QStringLiteral("Timed Out.  Continue? <b>"));
    QCOMPARE(seen_icon, expected_icon);
    QCOMPARE(seen_buttons, message.buttons == MessageButtons::Ok ? QMessageBox::StandardButtons(QMessageBox::Ok)
                           : message.buttons == MessageButtons::YesNo
                               ? QMessageBox::Yes | QMessageBox::No
                               : QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  }

  void EscapeInTheQuestionIsCancel() {
    WhenModal([](QWidget* widget) { QTest::keyClick(widget, Qt::Key_Escape); });
    QtDialogs dialogs;
    const Message question{"Timed Out.  Continue?", MessageButtons::YesNoCancel, MessageIcon::None,
                           "Continue"};
    QCOMPARE(int(dialogs.Show(question)), int(MessageAnswer::Cancel));
  }

  void InputBoxAnswered() {
    QString seen_title, seen_label, seen_default;
    WhenModal([&](QWidget* widget) {
      auto* box = qobject_cast<QInputDialog*>(widget);
      QVERIFY(box != nullptr);
      seen_title = box->windowTitle();
      seen_label = box->labelText();
      seen_default = box->textValue();
      box->setTextValue(QStringLiteral("12.5"));
      box->accept();
    });
    QtDialogs dialogs;
    QCOMPARE(dialogs.Ask("Enter frame #", "Frame #", "1"), std::string("12.5"));
    QCOMPARE(seen_title, QStringLiteral("Frame #"));
    QCOMPARE(seen_label, QStringLiteral("Enter frame #"));
    QCOMPARE(seen_default, QStringLiteral("1"));
  }

  void InputBoxCancelledGivesEmptyText() {
    WhenModal([](QWidget* widget) { qobject_cast<QDialog*>(widget)->reject(); });
    QtDialogs dialogs;
    QCOMPARE(dialogs.Ask("Enter Counts?", "", "80"), std::string());
  }

 private:
  // Runs `inspect` on the modal dialog once it is up.
  void WhenModal(std::function<void(QWidget*)> inspect) {
    auto* timer = new QTimer(this);
    timer->setInterval(10);
    connect(timer, &QTimer::timeout, this, [timer, inspect] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || !modal->isVisible()) return;
      timer->stop();
      timer->deleteLater();
      inspect(modal);
    });
    timer->start();
  }
};

QTEST_MAIN(QtDialogsTest)
#include "qt_dialogs_test.moc"

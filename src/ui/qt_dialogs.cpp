#include "ui/qt_dialogs.h"

#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace fc {

namespace {

QString TitleOrProgram(const std::string& title) {
  return QString::fromStdString(title.empty() ? std::string(kProgramTitle) : title);
}

}  // namespace

QWidget* QtDialogs::DialogParent() const {
  return parent_ != nullptr && parent_->isVisible() ? parent_.data() : nullptr;
}

MessageAnswer QtDialogs::Show(const Message& message) {
  QMessageBox box(DialogParent());
  box.setWindowTitle(TitleOrProgram(message.title));
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromStdString(message.text));
  switch (message.icon) {
    case MessageIcon::None:
      box.setIcon(QMessageBox::NoIcon);
      break;
    case MessageIcon::Exclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case MessageIcon::Critical:
      box.setIcon(QMessageBox::Critical);
      break;
  }
  if (message.buttons == MessageButtons::YesNoCancel) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
  } else if (message.buttons == MessageButtons::YesNo) {
    // Closing the box answers No: the question's safe choice keeps everything.
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
  }
  box.exec();
  const auto* clicked = box.clickedButton();
  if (message.buttons == MessageButtons::Ok) return MessageAnswer::Ok;
  if (clicked == box.button(QMessageBox::Yes)) return MessageAnswer::Yes;
  if (clicked == box.button(QMessageBox::No)) return MessageAnswer::No;
  return MessageAnswer::Cancel;
}

std::string QtDialogs::Ask(const std::string& prompt, const std::string& title,
                           const std::string& default_text) {
  QInputDialog dialog(DialogParent());
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(TitleOrProgram(title));
  dialog.setLabelText(QString::fromStdString(prompt));
  dialog.setTextValue(QString::fromStdString(default_text));
  // The jump prompt is long; wrap it rather than stretch the box across the screen.
  if (auto* label = dialog.findChild<QLabel*>()) {
    label->setWordWrap(true);
    label->setMinimumWidth(360);
  }
  if (dialog.exec() != QDialog::Accepted) return "";
  return dialog.textValue().toStdString();
}

}  // namespace fc

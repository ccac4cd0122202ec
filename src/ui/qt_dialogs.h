#pragma once

#include <QPointer>
#include <QWidget>
#include <string>

#include "analysis/message.h"

namespace fc {

// Message boxes and input boxes as Qt dialogs, modal over `parent` (when set and shown).
// A box without a title shows the program's title.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  MessageAnswer Show(const Message& message) override;
  std::string Ask(const std::string& prompt, const std::string& title,
                  const std::string& default_text) override;

 private:
  QWidget* DialogParent() const;

  QPointer<QWidget> parent_;
};

}  // namespace fc

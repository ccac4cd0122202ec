#pragma once

#include <functional>
#include <string>

#include "capture/clock.h"
#include "capture/host.h"
#include "support/fakes.h"

namespace fc::testing {

// Message boxes that also note when they were shown.
class TimedDialogs : public GTestDialogs {
 public:
  explicit TimedDialogs(Clock& clock) : clock_(clock) {}
  MessageAnswer Show(const Message& message) override {
    shown_at.push_back(clock_.MonotonicSeconds());
    return GTestDialogs::Show(message);
  }
  std::vector<double> shown_at;

 private:
  Clock& clock_;
};

// The window as the capture sees it: control states, and hooks for what the user does while
// a frame is awaited (on_wait) and between frames (on_input).
class FakeHost : public Host {
 public:
  explicit FakeHost(Clock& clock) : dialog(clock) {}

  Dialogs& dialogs() override { return dialog; }
  void ProcessPendingInput() override {
    ++input_calls;
    if (on_input) on_input();
  }
  void WaitBriefly() override {
    ++wait_calls;
    if (on_wait) on_wait();
  }
  void EndProgram() override { ended = true; }
  bool Ending() const override { return ended || unloaded; }
  void SetStartEnabled(bool enabled) override {
    start_enabled = enabled;
    ++button_calls;
  }
  void SetStopEnabled(bool enabled) override {
    stop_enabled = enabled;
    ++button_calls;
  }
  void ShowCommand3() override { command3_visible = true; }
  void SetAverageLabel(const std::string& text) override { label2 = text; }
  void SetFileButtonsEnabled(bool enabled) override {
    file_buttons_enabled = enabled;
    ++button_calls;
  }

  TimedDialogs dialog;
  std::function<void()> on_input;
  std::function<void()> on_wait;
  int input_calls = 0;
  int wait_calls = 0;
  int button_calls = 0;
  bool ended = false;
  bool unloaded = false;
  bool start_enabled = true;
  bool stop_enabled = true;
  bool file_buttons_enabled = true;
  bool command3_visible = false;
  std::string label2;
};

}  // namespace fc::testing

#pragma once

#include <string>

#include "analysis/message.h"

namespace fc {

// What the capture needs from the program around it: the window, the batch program or a test.
// Everything is called on the one thread that runs the capture.
class Host {
 public:
  virtual ~Host() = default;

  // Modal message boxes.
  virtual Dialogs& dialogs() = 0;

  // The run's events that the host must tell apart. By default they are the window's message
  // boxes; a host without a user to ask (the batch program) overrides them.
  //
  // No frame came within five seconds of its queueing. Yes queues the same frame again, No
  // analyses what it holds and goes on, Cancel ends the program. Default: "Timed Out.  Continue?"
  virtual MessageAnswer TimedOut();
  // The device or the sound server went away during a run; the capture then stops the run
  // (unless the program is ending). Default: InputLostMessage() with OK.
  virtual void InputLost();

  // Let the window handle all pending input once (clicks, keys, menu choices, resizes, the
  // closing of the window). A click of Stop runs Capture::Stop from in here.
  virtual void ProcessPendingInput() = 0;

  // Called between two checks of the done flag while a frame is awaited: repaint and answer
  // the desktop, but handle no user input (clicks and keys wait for ProcessPendingInput).
  // Return promptly and do not sleep: the capture sleeps on its Clock right after this call.
  virtual void WaitBriefly() = 0;

  // End the program at once, without the window's unload handling (nothing is saved). A host
  // that cannot end the process here (a test) records it; the capture returns at once after it.
  virtual void EndProgram() = 0;

  // True once the program is ending (EndProgram called, or the window unloaded). A capture loop
  // that finds it true returns without touching anything.
  virtual bool Ending() const = 0;

  virtual void SetStartEnabled(bool enabled) = 0;             // StartButton
  virtual void SetStopEnabled(bool enabled) = 0;              // StopButton
  virtual void ShowCommand3() = 0;                            // "Antic. Next Frame"
  virtual void SetAverageLabel(const std::string& text) = 0;  // Label2
  // "Write File" and both raw-data buttons: disabled while a run is in progress.
  virtual void SetFileButtonsEnabled(bool enabled) = 0;
};

}  // namespace fc

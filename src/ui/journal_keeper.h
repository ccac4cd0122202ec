#pragma once

#include <filesystem>
#include <string>

#include "analysis/display.h"
#include "analysis/measurement_state.h"
#include "analysis/message.h"
#include "capture/capture.h"
#include "files/run_journal.h"

namespace fc {

// The window's side of the journal: a new one at every Start, a record for every analysed
// frame, removal at the endings the user chose, and the offer of a run left behind.
class JournalKeeper : public RunListener {
 public:
  JournalKeeper(const std::filesystem::path& program_directory, Dialogs& dialogs)
      : directory_(program_directory),
        journal_(program_directory / kRunJournalFileName),
        dialogs_(dialogs) {}

  // At start-up: asks about a run that did not end normally ("Recover it?"). Yes loads its
  // frames as Read Raw Data loads a file, with the run's own settings, and keeps the journal
  // for them; No writes them to "Recovered run <start>.txt" and removes the journal. A journal
  // another window holds is left alone; one without a frame is removed; one that is no
  // journal is renamed ".run-journal.unreadable", one that cannot be read whole
  // ".run-journal.damaged" (its intact frames are still offered).
  void OfferRecovery(MeasurementState& state, Display& display);

  // Before Start records: a run left behind since start-up (by a window that held the journal
  // then and died) is offered as at start-up before anything replaces it. False when it was
  // recovered: the Start then does not go ahead, so the run is not overwritten at once.
  bool BeforeStart(MeasurementState& state, Display& display);

  void RunStarted(const MeasurementState& state) override;
  void FrameAnalysed(const MeasurementState& state, int frame) override;
  // A run that goes on past frame 1000 filled the store: its frames are written to
  // "Run <start> part NNNN.txt" in the program directory (a raw data file), and the journal
  // starts again for the next store. When the part cannot be written the journal keeps the
  // store, is let go of and offered at the next start of the program, and the rest of the run
  // goes unjournaled.
  void StoreFilled(const MeasurementState& state) override;

  // The run ended in a way the user chose (the window closed, Cancel at the time-out).
  void EndedNormally();

  const RunJournal& journal() const { return journal_; }

 private:
  enum class Outcome { NothingLeft, Recovered, KeptAside };
  // Offers the run in the held journal, if it holds one.
  Outcome OfferHeld(MeasurementState& state, Display& display);
  void Tell(Message message) { dialogs_.Show(message); }
  void Recover(const JournalContents& contents, MeasurementState& state, Display& display,
               const std::string& damage);
  void WriteAside(const JournalContents& contents, const std::string& damage,
                  const std::filesystem::path& kept_at);

  std::filesystem::path directory_;
  RunJournal journal_;
  Dialogs& dialogs_;
  bool appending_ = false;        // the run in progress has a journal
  bool told_no_journal_ = false;  // a Start without a journal was reported once
  bool disabled_ = false;         // a run left behind could not be moved aside: keep off it
  std::time_t run_started_ = 0;
  int64_t parts_ = 0;  // stores of the run in progress written to part files
};

// "The last run (N frames, started DATE TIME) was not saved. Recover it?" Yes/No.
Message RecoveryQuestion(int frames, std::time_t started);

}  // namespace fc

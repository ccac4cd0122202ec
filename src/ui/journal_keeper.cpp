#include "ui/journal_keeper.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "files/atomic_file.h"
#include "files/raw_data_file.h"

namespace fc {

namespace {

// The bytes of one frame as this window records and reads them.
uint32_t FrameBytesOf(const MeasurementState& state) {
  const int32_t pairs =
      state.BufferSize > 0 ? std::min(state.BufferSize, kMaxFramePoints) : kCaptureBufferSize;
  return static_cast<uint32_t>(2 * pairs);
}

std::string Frames(int count, const char* adjective) {
  return std::to_string(count) + " " + adjective + (count == 1 ? " frame" : " frames");
}

// "its 1 complete frame was" / "its 3 complete frames were"
std::string ItsFrames(int count, const char* adjective, const char* participle) {
  return "its " + Frames(count, adjective) + (count == 1 ? " was " : " were ") + participle;
}

}  // namespace

Message RecoveryQuestion(int frames, std::time_t started) {
  const auto start = LocalTimeText(started, ':');
  return Message{"The last run (" + std::to_string(frames) + (frames == 1 ? " frame" : " frames") +
                     (start ? ", started " + *start : std::string(", start time unknown")) +
                     ") was not saved. Recover it?",
                 MessageButtons::YesNo, MessageIcon::None, ""};
}

void JournalKeeper::OfferRecovery(MeasurementState& state, Display& display) {
  const auto take = journal_.TakeFile(false);
  // None, in use, or nothing a journal can be (Start says so); a file that cannot be opened
  // is reported when Start tries to replace it.
  if (!take || take.value() != RunJournal::Take::Taken) return;
  if (OfferHeld(state, display) == Outcome::NothingLeft) {
    // The run ended before its first frame: nothing to recover.
    static_cast<void>(journal_.Remove());  // a journal left in place is only offered again
  }
}

bool JournalKeeper::BeforeStart(MeasurementState& state, Display& display) {
  if (disabled_ || journal_.held()) return true;
  const auto take = journal_.TakeFile(false);
  if (!take || take.value() != RunJournal::Take::Taken) return true;  // RunStarted tells
  return OfferHeld(state, display) != Outcome::Recovered;
}

JournalKeeper::Outcome JournalKeeper::OfferHeld(MeasurementState& state, Display& display) {
  const auto size = journal_.Size();
  if (size && size.value() == 0) return Outcome::NothingLeft;
  auto read =
      size ? journal_.Read(FrameBytesOf(state)) : Result<JournalContents>(Error{size.error()});
  if (!read) {
    journal_.Release();
    disabled_ = true;
    Tell(WarningMessage(read.error() + " Runs are recorded without a journal until it is readable."));
    return Outcome::KeptAside;
  }
  const JournalContents& contents = read.value();
  std::string damage;  // told with the outcome, or alone when no frame was intact
  std::filesystem::path kept_at = journal_.path();
  if (contents.condition == JournalCondition::Unreadable ||
      contents.condition == JournalCondition::Damaged) {
    // Not ours to judge, and never deleted: kept under another name for whoever wants it.
    const bool unreadable = contents.condition == JournalCondition::Unreadable;
    auto aside = journal_.MoveAside(std::string(kRunJournalFileName) +
                                    (unreadable ? ".unreadable" : ".damaged"));
    damage = std::string("The journal of the last run could not be read") +
             (unreadable ? "" : " whole") + ": " + contents.problem + ". ";
    if (aside) {
      kept_at = aside.value();
      damage += "It was kept as \"" + kept_at.string() + "\".";
    } else {
      journal_.Release();
      disabled_ = true;  // a new run would overwrite it
      damage += aside.error() + " Runs are recorded without a journal until it is moved.";
    }
    if (contents.frame_count() == 0) {
      Tell(WarningMessage(damage));
      return Outcome::KeptAside;
    }
  } else if (contents.frame_count() == 0) {
    return Outcome::NothingLeft;
  }
  if (dialogs_.Show(RecoveryQuestion(contents.frame_count(), contents.started)) ==
      MessageAnswer::Yes) {
    Recover(contents, state, display, damage);
    return Outcome::Recovered;
  }
  WriteAside(contents, damage, kept_at);
  return Outcome::KeptAside;
}

void JournalKeeper::Recover(const JournalContents& contents, MeasurementState& state,
                            Display& display, const std::string& damage) {
  // The run's own settings, not the older ones of the configuration file: they become the
  // settings in force again, as they were while it recorded.
  ApplySettings(contents.settings, state);
  if (!std::isfinite(state.QuillRecordFreq) || state.QuillRecordFreq <= 0.0f) {
    state.QuillRecordFreq = kCaptureRate;  // the analysis divides by it
  }
  state.BufferSize = static_cast<int32_t>(contents.frame_bytes / 2);
  const int frames = contents.frame_count();
  for (int frame = 0; frame < frames; ++frame) {
    std::memcpy(state.Row(frame), contents.frame(frame), contents.frame_bytes);
  }
  AnalyseStoredFrames(state, display, frames, &contents.precise);
  std::copy(contents.start_times.begin(), contents.start_times.end(),
            state.FrameStartTime.begin());
  // The journal stays, when it was not put aside: it backs the recovered run until the window
  // closes or a new run replaces it.
  if (!damage.empty()) {
    Tell(WarningMessage(damage + " Its " + Frames(frames, "intact") +
                        (frames == 1 ? " was" : " were") + " recovered."));
  } else if (contents.condition == JournalCondition::Cut) {
    Tell(WarningMessage("The journal of the last run ends in a cut or damaged frame: " +
                        ItsFrames(frames, "complete", "recovered") + "."));
  } else {
    Tell(DoneMessage());
  }
}

void JournalKeeper::WriteAside(const JournalContents& contents, const std::string& damage,
                               const std::filesystem::path& kept_at) {
  const auto start = LocalTimeText(contents.started, '-');
  const auto written = WriteNewFile(
      directory_, "Recovered run " + (start ? *start : std::string("of unknown start")), ".txt",
      RawDataText(contents.frame(0), contents.frame_count(), contents.frame_bytes));
  const std::string before = damage.empty() ? "" : damage + " ";
  if (!written) {
    std::string text =
        before + written.error() + " The last run stays in \"" + kept_at.string() + "\"";
    if (journal_.held()) {
      journal_.Release();
      disabled_ = true;  // a new run would overwrite the journal that could not be moved
      text += "; runs are recorded without a journal until it is moved";
    }
    Tell(WarningMessage(text + "."));
    return;
  }
  std::string text = before + "The last run was kept as \"" + written.value().string() +
                     "\", in the format of " + std::string(kRawDataFileName) + ".";
  if (contents.condition == JournalCondition::Cut) {
    text += " Its journal ended in a cut or damaged frame: " +
            ItsFrames(contents.frame_count(), "complete", "kept") + ".";
  }
  if (journal_.held()) {
    const Status removed = journal_.Remove();
    if (!removed) {
      disabled_ = true;  // it would be offered again at every Start
      text += " " + removed.error() + " It is offered again at the next start of the program.";
    }
  }
  Tell(damage.empty() ? Message{text, MessageButtons::Ok, MessageIcon::None, ""}
                      : WarningMessage(text));
}

void JournalKeeper::RunStarted(const MeasurementState& state) {
  appending_ = false;
  run_started_ = std::time(nullptr);
  parts_ = 0;
  std::string error;
  RunJournal::Take take = RunJournal::Take::Missing;
  if (!disabled_) {
    const auto taken = journal_.TakeFile(true);
    if (taken) {
      take = taken.value();
    } else {
      error = taken.error();
    }
  }
  if (take == RunJournal::Take::Taken) {
    const Status begun = journal_.Begin(run_started_, SettingsOf(state), FrameBytesOf(state));
    if (begun) {
      appending_ = true;
      return;
    }
    error = begun.error();
  }
  if (told_no_journal_) return;
  told_no_journal_ = true;
  if (take == RunJournal::Take::Busy) {
    Tell(WarningMessage(
        "Another window of the program holds the run journal in this directory. This run is "
        "recorded without a journal: a crash would lose it."));
  } else if (take == RunJournal::Take::NotRegular) {
    Tell(WarningMessage("The run journal \"" + journal_.path().string() +
                        "\" is not a regular file (a symbolic link, a directory or a device), so "
                        "it was left alone. This run is recorded without a journal: a crash "
                        "would lose it. Remove it to have runs journaled again."));
  } else if (!disabled_) {
    Tell(WarningMessage(error + " This run is recorded without a journal: a crash would lose it."));
  }
}

void JournalKeeper::FrameAnalysed(const MeasurementState& state, int frame) {
  if (!appending_) return;
  const Status appended =
      journal_.Append(frame, state.FrameStartTime[static_cast<std::size_t>(frame)],
                      state.Row(frame), state.PreciseResults[static_cast<std::size_t>(frame)]);
  if (!appended) {
    appending_ = false;
    Tell(WarningMessage(appended.error() + " The rest of this run is recorded without a journal."));
  }
}

void JournalKeeper::StoreFilled(const MeasurementState& state) {
  ++parts_;
  char number[32];
  std::snprintf(number, sizeof number, "%04lld", static_cast<long long>(parts_));
  const auto start = LocalTimeText(run_started_, '-');
  const auto written = WriteNewFile(
      directory_, "Run " + (start ? *start : std::string("of unknown start")) + " part " + number,
      ".txt", RawDataText(state));
  if (!written) {
    std::string text = written.error() + " Frames " + std::to_string(state.RunFrame(0)) + " to " +
                       std::to_string(state.RunFrame(kLastFrame)) + " of this run";
    if (appending_) {
      // The journal is all that holds them now: it is kept for the next start of the program.
      journal_.Release();
      disabled_ = true;
      appending_ = false;
      text +=
          " stay in the run journal, which the next start of the program offers; the rest "
          "of the run is recorded without a journal.";
    } else {
      text +=
          " could not be kept; make room in the program directory so that the next 1001 "
          "frames are kept.";
    }
    Tell(WarningMessage(text));
    return;
  }
  if (!appending_) return;
  const Status begun = journal_.Begin(std::time(nullptr), SettingsOf(state), FrameBytesOf(state));
  if (!begun) {
    appending_ = false;
    Tell(WarningMessage(begun.error() + " The rest of this run is recorded without a journal."));
  }
}

void JournalKeeper::EndedNormally() {
  // The window is going: a journal that cannot be removed is offered at the next start.
  static_cast<void>(journal_.Remove());
}

}  // namespace fc

#include "capture/buffer_filler.h"

#include <algorithm>
#include <utility>

namespace fc {

BufferFiller::BufferFiller(uint32_t input_rate, uint32_t output_rate, int channels,
                           size_t carry_frames, bool restore_pulses)
    : input_rate_(input_rate),
      output_rate_(output_rate),
      averager_(input_rate, output_rate, channels),
      timer_(input_rate) {
  if (restore_pulses) {
    restorer_.emplace(input_rate);
    input_timer_.emplace(input_rate);
  }
  carry_.reserve(carry_frames * static_cast<size_t>(channels));
}

void BufferFiller::KeepInto(std::shared_ptr<RecordingSink> sink, SampleWidth width) {
  sink_ = std::move(sink);
  sink_width_ = width;
  keeping_ = false;
}

void BufferFiller::Queue(WaveHeader& header) {
  header.flags.fetch_and(~WaveHeader::kDone, std::memory_order_release);
  header.precise = PreciseReading{};
  if (header.data == nullptr || header.buffer_length == 0) return;
  if (sink_ && !keeping_) {
    // The kept recording starts with the first sample of this buffer: so do the averaging, the
    // restorer and the timer, so that a replay of the recording gives the same frames.
    keeping_ = true;
    averager_ = BlockAverager(input_rate_, output_rate_, Channels());
    if (restorer_) {
      restorer_.emplace(input_rate_);
      input_timer_.emplace(input_rate_);
    }
    timer_ = EdgeTimer(input_rate_);
    carry_.clear();
    carrying_ = false;
    sink_->Begin(input_rate_, Channels(), sink_width_);
  }
  // A buffer that does not continue the last one starts its timer frame now.
  if (!carrying_) {
    timer_.RestartFrame();
    if (input_timer_) input_timer_->RestartFrame();
  }
  header_ = &header;
  filled_ = 0;
  // The input that followed the previous buffer without a gap goes first.
  size_t used = 0;
  while (used < carry_.size() && header_ != nullptr) {
    header_->data[filled_++] = carry_[used++];
    if (filled_ >= header_->buffer_length) Complete();
  }
  if (header_ == nullptr) {
    if (keeping_) sink_->FrameCompleted();
    // Filled from what was kept (a short buffer): the rest is kept for the next one, from the
    // next whole frame on.
    const size_t channels = static_cast<size_t>(Channels());
    used = std::min(carry_.size(), (used + channels - 1) / channels * channels);
    carry_.erase(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(used));
  } else {
    carry_.clear();
    carrying_ = false;
  }
}

void BufferFiller::Release(const WaveHeader* only) {
  const bool reset = only == nullptr;
  if (header_ != nullptr && (reset || header_ == only)) {
    header_->flags.fetch_or(WaveHeader::kDone, std::memory_order_release);
    header_ = nullptr;
  } else if (!reset) {
    return;
  }
  carry_.clear();
  carrying_ = false;
}

void BufferFiller::Push(const float* samples, size_t frame_count) {
  const float* const kept = samples;
  if (restorer_) {
    // The backend's samples may be read-only (the server's buffer): the restored copy goes into
    // one kept for the purpose.
    restored_.assign(samples, samples + frame_count * static_cast<size_t>(Channels()));
    restorer_->RestoreFirstChannel(restored_.data(), frame_count, Channels());
    samples = restored_.data();
  }
  PushPieces(samples, kept, frame_count);
}

void BufferFiller::PushSilence(size_t frame_count) { PushPieces(nullptr, nullptr, frame_count); }

void BufferFiller::PushPieces(const float* samples, const float* kept, size_t frame_count) {
  const auto write = [this](const uint8_t* frame) { WriteFrame(frame); };
  const auto push = [&](size_t count) {
    if (samples != nullptr) {
      averager_.Push(samples, count, write);
    } else {
      averager_.PushSilence(count, write);
    }
  };
  const auto keep = [&](size_t count) {
    if (count == 0) return;
    if (kept != nullptr) {
      sink_->Write(kept, count);
    } else {
      sink_->WriteSilence(count);
    }
  };
  if (!timing_ && !keeping_) {
    push(frame_count);
    return;
  }
  // Up to one output frame at a time, the timer first, so that a buffer completed by the
  // averager takes the timer's frame up to the very sample that completed it.
  const auto channels = static_cast<size_t>(Channels());
  const float* input = kept;  // the samples before the restorer, for the input's own timer
  size_t unkept = 0;  // frames pushed and not yet handed to the sink
  while (frame_count > 0) {
    const size_t take = std::min(frame_count, std::max<size_t>(1, averager_.FramesToBoundary()));
    if (timing_) {
      if (samples != nullptr) {
        for (size_t f = 0; f < take; ++f) timer_.Feed(samples[f * channels]);
        if (input_timer_) {
          for (size_t f = 0; f < take; ++f) input_timer_->Feed(input[f * channels]);
        }
      } else {
        timer_.Gap(take);
        if (input_timer_) input_timer_->Gap(take);
      }
    }
    completed_ = false;
    push(take);
    if (samples != nullptr) {
      samples += take * channels;
      input += take * channels;
    }
    frame_count -= take;
    if (!keeping_) continue;
    unkept += take;
    if (completed_) {
      keep(unkept);
      if (kept != nullptr) kept += unkept * channels;
      unkept = 0;
      sink_->FrameCompleted();
    }
  }
  if (keeping_) keep(unkept);
}

void BufferFiller::Complete() {
  if (!timing_) {
    header_->precise = PreciseReading{};
  } else if (input_timer_) {
    const PreciseReading restored = timer_.EndFrame();
    header_->precise = SounderReading(input_timer_->EndFrame(), restored);
  } else {
    header_->precise = timer_.EndFrame();
  }
  header_->flags.fetch_or(WaveHeader::kDone, std::memory_order_release);
  header_ = nullptr;
  carrying_ = true;
  completed_ = true;
}

void BufferFiller::WriteFrame(const uint8_t* frame) {
  const size_t channels = static_cast<size_t>(Channels());
  if (header_ != nullptr) {
    for (size_t c = 0; c < channels && header_ != nullptr; ++c) {
      header_->data[filled_++] = frame[c];
      if (filled_ >= header_->buffer_length) Complete();
    }
  } else if (carrying_) {
    if (carry_.size() + channels <= carry_.capacity()) {
      carry_.insert(carry_.end(), frame, frame + channels);
    } else {
      carry_.clear();
      carrying_ = false;
    }
  }
}

}  // namespace fc

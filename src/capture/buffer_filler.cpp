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
  if (keeping_) sink_->Write(samples, frame_count);
  const float* input = samples;
  if (restorer_) {
    // The backend's samples may be read-only (the server's buffer): the restored copy goes into
    // one kept for the purpose.
    restored_.assign(samples, samples + frame_count * static_cast<size_t>(Channels()));
    restorer_->RestoreFirstChannel(restored_.data(), frame_count, Channels());
    samples = restored_.data();
  }
  // Up to one output frame at a time, the timer first, so that a buffer completed by the
  // averager takes the timer's frame up to the very sample that completed it.
  const auto channels = static_cast<size_t>(Channels());
  const auto write = [this](const uint8_t* frame) { WriteFrame(frame); };
  if (!timing_) {
    averager_.Push(samples, frame_count, write);
    return;
  }
  while (frame_count > 0) {
    const size_t take = std::min(frame_count, std::max<size_t>(1, averager_.FramesToBoundary()));
    for (size_t f = 0; f < take; ++f) timer_.Feed(samples[f * channels]);
    if (input_timer_) {
      for (size_t f = 0; f < take; ++f) input_timer_->Feed(input[f * channels]);
    }
    averager_.Push(samples, take, write);
    samples += take * channels;
    input += take * channels;
    frame_count -= take;
  }
}

void BufferFiller::PushSilence(size_t frame_count) {
  if (keeping_) sink_->WriteSilence(frame_count);
  const auto write = [this](const uint8_t* frame) { WriteFrame(frame); };
  if (!timing_) {
    averager_.PushSilence(frame_count, write);
    return;
  }
  while (frame_count > 0) {
    const size_t take = std::min(frame_count, std::max<size_t>(1, averager_.FramesToBoundary()));
    timer_.Gap(take);
    if (input_timer_) input_timer_->Gap(take);
    averager_.PushSilence(take, write);
    frame_count -= take;
  }
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

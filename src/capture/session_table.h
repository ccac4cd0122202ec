#pragma once

#include <limits>
#include <map>
#include <memory>

#include "capture/wave_input.h"

namespace fc {

// A backend's open inputs by handle. Handles count up from 1 and start again at 1 rather than
// reach the type's limit. `Session` may be incomplete where the table is declared; it must be
// complete where the table is used and destroyed.
template <class Session>
class SessionTable {
 public:
  WaveInHandle Add(std::unique_ptr<Session> session) {
    if (next_ == std::numeric_limits<WaveInHandle>::max()) next_ = 1;
    const WaveInHandle handle = next_++;
    sessions_.emplace(handle, std::move(session));
    return handle;
  }
  // nullptr for a handle that is not open.
  Session* Find(WaveInHandle handle) const {
    const auto it = sessions_.find(handle);
    return it == sessions_.end() ? nullptr : it->second.get();
  }
  void Remove(WaveInHandle handle) { sessions_.erase(handle); }

 private:
  std::map<WaveInHandle, std::unique_ptr<Session>> sessions_;
  WaveInHandle next_ = 1;
};

}  // namespace fc

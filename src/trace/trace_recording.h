// A trace as its producers write it, call by call: the simulated bus of
// itself, TracingPlatform of the port it wraps. Runs of one kind of poll are
// folded into one event here, the same way for both.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <variant>
#include <vector>

#include "trace/trace_event.h"

namespace tarvex::trace {

class Recording {
 public:
  const std::vector<TraceEvent>& events() const { return events_; }
  void clear() { events_.clear(); }
  void reserve(std::size_t count) { events_.reserve(count); }
  // Room for `count` more events (and a few after them) when there is not
  // room for them now: a long block's characters at once, not in doublings.
  void make_room(std::size_t count) {
    if (events_.capacity() - events_.size() < count) events_.reserve(events_.size() + count + 32);
  }

  // A new event that starts and ends at `at_us`.
  template <class Kind>
  Kind& add(Handle handle, std::uint64_t at_us) {
    Kind& event = *std::get_if<Kind>(&events_.emplace_back(std::in_place_type<Kind>));
    event.time_us = at_us;
    event.end_us = at_us;
    if constexpr (std::is_base_of_v<OnPort, Kind>) event.handle = handle;
    return event;
  }

  Write& write(Handle handle, std::uint64_t at_us, const std::uint8_t* bytes, std::uint32_t asked,
               std::uint32_t taken) {
    Write& event = add<Write>(handle, at_us);
    event.bytes.assign(bytes, bytes + asked);
    event.asked = asked;
    event.taken = taken;
    return event;
  }
  void sent(Handle handle, const WireByte& byte) {
    Sent& event = add<Sent>(handle, byte.start_us);
    event.end_us = byte.end_us;
    event.wire = byte;
  }
  void failed(const char* operation, std::uint32_t code, std::uint64_t at_us) {
    Failed& event = add<Failed>(line::kInvalidHandle, at_us);
    event.operation = operation;
    event.code = code;
  }
  // A read that found nothing, from `start_us` to `end_us`.
  void idle_read(Handle handle, std::uint64_t start_us, std::uint64_t end_us) {
    poll(handle, start_us, end_us, &ReadIdle::polls);
  }
  // An output-queue query from `at_us` to `end_us` that counted `queued`.
  void queue_query(Handle handle, std::uint64_t at_us, std::uint64_t end_us, std::uint32_t queued) {
    poll(handle, at_us, end_us, &QueueQuery::queries).queued = queued;
  }
  // A tick reading at `at_us`: right after a poll (`follows_poll`), the end
  // of that poll; else a reading of a busy wait.
  void tick(std::uint64_t at_us, bool follows_poll) {
    if (TraceEvent* call = last_call(); follows_poll && call != nullptr) {
      timed(*call).end_us = at_us;
    } else {
      poll(line::kInvalidHandle, at_us, at_us, &Spin::readings);
    }
  }

 private:
  // Characters leaving the line are recorded in between the calls (as they
  // end, on the simulated bus); they do not break a run of polls.
  TraceEvent* last_call() {
    const auto call =
        std::find_if(events_.rbegin(), events_.rend(), [](auto& e) { return !is<Sent>(e); });
    return call == events_.rend() ? nullptr : &*call;
  }
  // One more poll of the run on this port that `count` counts, or a new run
  // of one from `at_us`; the run now ends at `end_us`.
  template <class Kind>
  Kind& poll(Handle handle, std::uint64_t at_us, std::uint64_t end_us, std::uint32_t Kind::*count) {
    TraceEvent* call = last_call();
    Kind* run = call == nullptr ? nullptr : std::get_if<Kind>(call);
    if constexpr (std::is_base_of_v<OnPort, Kind>) {
      if (run != nullptr && run->handle != handle) run = nullptr;
    }
    if (run != nullptr) {
      ++(run->*count);
    } else {
      run = &add<Kind>(handle, at_us);
    }
    run->end_us = end_us;
    return *run;
  }

  std::vector<TraceEvent> events_;
};

}  // namespace tarvex::trace

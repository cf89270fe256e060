#pragma once
// Runs independent work items on several threads and hands their results to
// the calling thread strictly in item order, so a report written from the
// results is identical whatever the number of threads.
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace stravex {

// Number of worker threads for a requested count (0 = one per core).
unsigned EffectiveThreads(int requested);

// compute(i) runs on a worker (or on the caller when threads <= 1) and must be
// safe to run concurrently for different i. consume(i, result) runs on the
// calling thread in increasing i and returns false to stop early (cancel);
// items not yet consumed are then dropped. An exception thrown by compute(i)
// is rethrown on the calling thread when item i would have been consumed, so
// everything before it has been consumed, as in a sequential run.
template <typename R>
void RunOrdered(std::size_t count, int threads, const std::function<R(std::size_t)>& compute,
                const std::function<bool(std::size_t, R&)>& consume) {
  const unsigned workers = EffectiveThreads(threads);
  if (workers <= 1 || count <= 1) {
    for (std::size_t i = 0; i < count; ++i) {
      R r = compute(i);
      if (!consume(i, r)) return;
    }
    return;
  }

  struct tSlot {
    std::optional<R> result;
    std::exception_ptr error;
  };
  std::mutex mutex;
  std::condition_variable ready, room;
  std::map<std::size_t, tSlot> done;
  std::size_t next = 0, consumed = 0;
  bool stop = false;
  // Bound how far workers run ahead of the consumer, so memory stays small.
  const std::size_t window = static_cast<std::size_t>(workers) * 4;

  auto work = [&] {
    for (;;) {
      std::size_t i;
      {
        std::unique_lock<std::mutex> lock(mutex);
        room.wait(lock, [&] { return stop || next >= count || next < consumed + window; });
        if (stop || next >= count) return;
        i = next++;
      }
      tSlot slot;
      try {
        slot.result.emplace(compute(i));
      } catch (...) {
        slot.error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        done.emplace(i, std::move(slot));
      }
      ready.notify_all();
    }
  };

  std::vector<std::thread> pool;
  pool.reserve(workers);
  auto finish = [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    room.notify_all();
    for (auto& t : pool) t.join();
  };
  try {
    for (unsigned w = 0; w < workers; ++w) pool.emplace_back(work);
    for (std::size_t i = 0; i < count; ++i) {
      tSlot slot;
      {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [&] { return done.count(i) != 0; });
        auto it = done.find(i);
        slot = std::move(it->second);
        done.erase(it);
        consumed = i + 1;
      }
      room.notify_all();
      if (slot.error) std::rethrow_exception(slot.error);
      if (!consume(i, *slot.result)) break;
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

} // namespace stravex

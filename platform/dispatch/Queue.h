#pragma once

#include <functional>

namespace dispatch {

// Somewhere blocks can be sent to run later: the global concurrent queue or the main queue.
// Implementations are thread-safe: async() may be called from any thread, blocks included.
class Queue {
 public:
  virtual ~Queue() = default;
  // Queues `block` and returns at once; the queue owns the block until it has run.
  virtual void async(std::function<void()> block) = 0;
};

inline void async(Queue& queue, std::function<void()> block) { queue.async(std::move(block)); }

}  // namespace dispatch

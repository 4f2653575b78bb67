#pragma once

#include <memory>
#include <utility>

namespace foundation {

// The lifetime of the object that holds it as a member, for work queued to run after the call
// that queued it: a Lifetime::Watch taken from it tells that work whether the object is still
// there. The lifetime ends with its holder, or earlier with end(). Neither type makes the object
// safe to use from another thread: check a watch on the thread that destroys the holder.
class Lifetime {
 public:
  class Watch {
   public:
    // Whether the holder is gone (or ended its lifetime early).
    bool expired() const { return _token.expired(); }

   private:
    friend class Lifetime;
    explicit Watch(std::weak_ptr<const void> token) : _token(std::move(token)) {}
    std::weak_ptr<const void> _token;
  };

  Lifetime() : _token(std::make_shared<char>()) {}
  // One lifetime, one holder: a copy would outlive it.
  Lifetime(const Lifetime&) = delete;
  Lifetime& operator=(const Lifetime&) = delete;

  Watch watch() const { return Watch(_token); }
  // Expires every watch now, for a holder whose destruction has begun.
  void end() { _token.reset(); }

 private:
  std::shared_ptr<const void> _token;
};

}  // namespace foundation

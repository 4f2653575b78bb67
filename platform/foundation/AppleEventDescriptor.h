#pragma once

#include <string>
#include <utility>

namespace foundation {

// The value a script answers. The scripts this platform runs answer text only: the standard
// output of their shell command. Immutable; safe to share between threads.
class AppleEventDescriptor {
 public:
  static AppleEventDescriptor descriptorWithString(std::string text) {
    return AppleEventDescriptor(std::move(text));
  }

  // The text the descriptor holds.
  const std::string& stringValue() const { return _text; }

 private:
  explicit AppleEventDescriptor(std::string text) : _text(std::move(text)) {}
  std::string _text;
};

}  // namespace foundation

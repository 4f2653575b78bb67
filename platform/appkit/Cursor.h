#pragma once

#include <functional>

namespace appkit {

// The mouse pointer's shape. Main thread only.
class Cursor {
 public:
  enum class Kind { Arrow, PointingHand };

  static const Cursor& arrowCursor();
  static const Cursor& pointingHandCursor();

  Kind kind() const { return _kind; }
  // Makes this the current cursor: the window system shows it while the pointer is over one of
  // the application's windows.
  void set() const;
  // The cursor last set (the arrow at start).
  static Kind currentKind();

  // Called with the kind on every set(); the window layer installs it to show the cursor. Null
  // removes it.
  static void setPresenter(std::function<void(Kind)> presenter);

 private:
  explicit Cursor(Kind kind) : _kind(kind) {}
  Kind _kind;
};

}  // namespace appkit

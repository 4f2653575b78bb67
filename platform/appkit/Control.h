#pragma once

#include <memory>
#include <string>

#include "appkit/AttributedString.h"
#include "appkit/View.h"

namespace appkit {

class Cell;
class ClassRegistry;

// A view that shows a value through its cell and sends an action when the user acts on it.
//
// Cell: the control owns a default cell (made by the subclass; a plain Cell here), and setCell
// points it at a cell owned elsewhere (a window layout's). title, enabled and state are the cell's.
//
// Mouse: a press runs the cell's tracking methods as the window delivers the events — press,
// drags, release, all to this control — never in a nested loop. The cell is highlighted while
// the pointer is inside; a release inside moves the cell to its next state (a check box toggles),
// announces "value" when the state changed, and sends the action. A disabled control ignores the
// mouse; disabling it or changing its cell while the mouse is pressed ends the tracking (the cell's
// stopTracking comes with mouseIsUp false) and sends nothing. While the cell's
// showsBorderOnlyWhileMouseInside is on, the control keeps a tracking area over its visible
// rectangle whose owner is the cell. Main thread only.
class Control : public View {
 public:
  Control();
  explicit Control(Rect frame);
  ~Control() override;

  Cell* cell() const { return _cell; }
  // Points the control at `cell` (not owned; it must stay alive while the control uses it, or
  // unhook itself by being destroyed); null goes back to the control's own cell.
  void setCell(Cell* cell);

  bool isEnabled() const;
  void setEnabled(bool enabled);
  const std::string& title() const;
  void setTitle(std::string title);
  AttributedString attributedTitle() const;
  void setAttributedTitle(AttributedString title);
  int state() const;
  void setState(int state);

  // The target and action of a layout connection; the action is called by sendAction.
  bool setAction(Object* target, const std::string& selector, Action action) override;
  void setAction(Action action);
  Object* target() const { return _target; }
  const std::string& actionSelector() const { return _selector; }
  // Calls the action with this control as the sender; false when there is none.
  bool sendAction();

  // A click without the mouse: as a release inside, the cell moves to its next state, "value" is
  // announced when it changed, and the action is sent. False when the control is disabled.
  bool performClick() override;
  // An enabled control takes the keyboard focus.
  bool acceptsFirstResponder() const override { return isEnabled(); }

  // True between a press that started tracking and its release.
  bool isTracking() const { return _tracking; }

  void drawRect(Rect dirtyRect) override;
  void mouseDown(const Event& event) override;
  void mouseDragged(const Event& event) override;
  void mouseUp(const Event& event) override;

  // The tracking area kept for the cell, or 0 when there is none.
  int cellTrackingAreaId() const { return _cellAreaId; }

  // Registers NSControl, NSButton, NSButtonCell and NSTextField with `registry`.
  static void registerLayoutClasses(ClassRegistry& registry);

 protected:
  // For subclasses' constructors: makes `cell` the control's own cell, and current.
  void setOwnedCell(std::unique_ptr<Cell> cell);

 private:
  friend class Cell;
  void attach(Cell* cell);
  void updateCellTrackingArea();
  void cellWillBeDestroyed(Cell& cell);
  // Ends a tracking in progress without a release: the cell's stopTracking with mouseIsUp false.
  void cancelTracking();
  void endTracking();

  std::unique_ptr<Cell> _ownCell;
  Cell* _cell = nullptr;
  int _cellAreaId = 0;
  Cell* _cellAreaOwner = nullptr;
  Object* _target = nullptr;
  std::string _selector;
  Action _action;
  bool _tracking = false;
  Point _lastPoint;
  std::shared_ptr<bool> _alive = std::make_shared<bool>(true);
};

}  // namespace appkit

#pragma once

#include <optional>
#include <string>

#include "appkit/AttributedString.h"
#include "appkit/Font.h"
#include "appkit/Geometry.h"
#include "appkit/Responder.h"

namespace appkit {

class Control;
class View;

// The part of a control that holds its value and draws it: title, state, enabled and highlighted
// flags, font. A control draws through its cell and runs the cell's tracking methods while the
// mouse is pressed on it; subclasses override those to change how the control looks and reacts.
//
// Ownership: a cell belongs to the control that made it or to the window layout that created it;
// a control only points at a layout's cell. Whichever of the two goes first unhooks itself from
// the other. Main thread only.
class Cell : public Object, public TrackingAreaOwner {
 public:
  // The state values of a two-state cell.
  static constexpr int Off = 0;
  static constexpr int On = 1;

  Cell();
  ~Cell() override;

  const std::string& title() const { return _title; }
  // Sets the plain title and drops an attributed title set before.
  void setTitle(std::string title);
  // The title as drawn: the one given to setAttributedTitle, or else the plain title in the
  // cell's font and title colour (see titleAttributes).
  AttributedString attributedTitle() const;
  // Overrides the plain title's attributes until setTitle is called; title() becomes its text.
  void setAttributedTitle(AttributedString title);

  bool isEnabled() const { return _enabled; }
  void setEnabled(bool enabled);
  int state() const { return _state; }
  void setState(int state);
  // The state a click leaves the cell in; the default keeps the state.
  virtual int nextState() const { return _state; }
  bool isHighlighted() const { return _highlighted; }
  void setHighlighted(bool highlighted);
  const Font& font() const { return _font; }
  void setFont(const Font& font);

  // The control the cell draws in and is tracked by, or null; set by the control.
  View* controlView() const;

  // Draws the cell into GraphicsContext::current(): the bezel, then the interior, both with
  // `frame` (in `view`'s coordinates).
  void drawWithFrame(Rect frame, View* view);
  virtual void drawBezelWithFrame(Rect frame, View* view);
  virtual void drawInteriorWithFrame(Rect frame, View* view);

  // Tracking, called by the control while the mouse is pressed on it, with points in `view`'s
  // coordinates. startTrackingAt answers whether tracking goes on (the default: yes);
  // continueTracking, on each drag, likewise; stopTracking comes at the release (`mouseIsUp`) or
  // when continueTracking ended the tracking. None of them may destroy the control or the cell.
  virtual bool startTrackingAt(Point point, View* view);
  virtual bool continueTracking(Point lastPoint, Point point, View* view);
  virtual void stopTracking(Point lastPoint, Point point, View* view, bool mouseIsUp);

  // While showsBorderOnlyWhileMouseInside is on, the control gives the cell the entered and exited
  // events of the control's whole visible area; the defaults do nothing.
  void mouseEntered(const Event& event) override;
  void mouseExited(const Event& event) override;
  bool showsBorderOnlyWhileMouseInside() const { return _showsBorderOnlyWhileMouseInside; }
  void setShowsBorderOnlyWhileMouseInside(bool shows);

 protected:
  // The colour of a title made from the plain title; the default is black, or grey when disabled.
  virtual Color titleColor() const;
  // The alignment of a title made from the plain title; the default is centred.
  virtual TextAlignment titleAlignment() const { return TextAlignment::Center; }
  // Marks the control view for redrawing, when there is one.
  void updateControlView();

 private:
  friend class Control;

  std::string _title;
  std::optional<AttributedString> _attributedTitle;
  bool _enabled = true;
  int _state = Off;
  bool _highlighted = false;
  bool _showsBorderOnlyWhileMouseInside = false;
  Font _font;
  Control* _control = nullptr;  // not owned; the control unhooks itself before it goes
};

}  // namespace appkit

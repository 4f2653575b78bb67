#pragma once

#include <vector>

#include "appkit/Geometry.h"
#include "appkit/Responder.h"

namespace appkit {

class ClassRegistry;
class GraphicsContext;
class View;
class Window;

// What a view hierarchy is shown in: a window. The window implements it; views call it.
class ViewHost {
 public:
  virtual ~ViewHost() = default;
  virtual Window* hostWindow() = 0;
  // `rect` (window points) of the hierarchy must be drawn again.
  virtual void viewNeedsDisplay(Rect rectInWindow) = 0;
  // The tracking areas or geometry of a view changed: the host re-checks what the pointer is in.
  virtual void viewTrackingAreasChanged() = 0;
  // `view` leaves the host's hierarchy (removed or destroyed): the host drops every reference to
  // it.
  virtual void viewWillLeaveHost(View& view) = 0;
};

// A rectangle of a view in which the pointer's entering and leaving are reported to `owner`.
struct TrackingArea {
  int id = 0;                          // given by addTrackingArea
  Rect rect;                           // in the view's coordinates; ignored when inVisibleRect
  bool inVisibleRect = true;           // follow the view's bounds as they change
  TrackingAreaOwner* owner = nullptr;  // not owned; must outlive the area
};

// A rectangle of a window that draws itself and takes mouse events.
//
// Geometry: the frame is in the superview's coordinates; the bounds have origin (0, 0) and the
// frame's size. A view's own coordinates have y growing upwards from its bottom-left corner,
// unless isFlipped() answers true (y grows downwards from the top-left).
//
// Ownership: a view does not own its subviews (a window layout, or the code that made them, owns
// every view). Destroying a view removes it from its superview and detaches its subviews, so no
// pointer dangles. Main thread only.
class View : public Responder {
 public:
  View() = default;
  explicit View(Rect frame) : _frame(frame) {}
  ~View() override;

  Rect frame() const { return _frame; }
  void setFrame(Rect frame);
  void setFrameOrigin(Point origin);
  void setFrameSize(Size size);
  Rect bounds() const { return Rect{{0, 0}, _frame.size}; }
  virtual bool isFlipped() const { return false; }

  bool isHidden() const { return _hidden; }
  void setHidden(bool hidden);

  View* superview() const { return _superview; }
  const std::vector<View*>& subviews() const { return _subviews; }
  // Adds `view` on top of the other subviews, taking it from its previous superview first. The
  // view's next responder becomes this view. Ignored for null, this view or one of its ancestors.
  void addSubview(View* view);
  void removeFromSuperview();
  // True when this view is `view` or lies inside it.
  bool isDescendantOf(const View* view) const;

  // The window the hierarchy is shown in, or null.
  Window* window() const;
  // For the window: makes `host` (or null) the host of this view and its subviews.
  void setHost(ViewHost* host);
  ViewHost* host() const { return _host; }

  // Drawing. drawRect draws the part `dirtyRect` (own coordinates) of the view into
  // GraphicsContext::current(); the default draws nothing.
  virtual void drawRect(Rect dirtyRect);
  bool needsDisplay() const { return _needsDisplay; }
  void setNeedsDisplay(bool needsDisplay);
  void setNeedsDisplayInRect(Rect rect);
  // For the window: draws this view and its subviews where they meet `rect` (own coordinates),
  // into `context` whose current transform is this view's superview's (or, for the content view,
  // the window's) coordinate system, and clears the needs-display marks.
  void displayRect(Rect rect, GraphicsContext& context, bool superviewIsFlipped);

  // Geometry between views of one window; null stands for the window's coordinates.
  Point convertPointFromView(Point point, const View* view) const;
  Point convertPointToView(Point point, const View* view) const;
  Rect convertRectToView(Rect rect, const View* view) const;
  Rect convertRectFromView(Rect rect, const View* view) const;

  // The deepest visible view under `point` (in the superview's coordinates), this one if no
  // subview is there, or null when the point is outside this view.
  virtual View* hitTest(Point point);

  // Tracking areas. addTrackingArea gives the area an id (returned, and stored in the area).
  int addTrackingArea(TrackingArea area);
  void removeTrackingArea(int id);
  const std::vector<TrackingArea>& trackingAreas() const { return _trackingAreas; }
  // The area's rectangle now, in the view's coordinates.
  Rect trackingRect(const TrackingArea& area) const;

  // Notifications: the view was added to or removed from a window; the frame changed.
  virtual void viewDidMoveToWindow() {}
  virtual void frameDidChange() {}

  // Registers the layout class "NSView" with `registry`.
  static void registerLayoutClasses(ClassRegistry& registry);

 private:
  Point toSuperview(Point point) const;
  Point fromSuperview(Point point) const;
  void clearNeedsDisplay();

  Rect _frame;
  bool _hidden = false;
  bool _needsDisplay = false;
  View* _superview = nullptr;
  std::vector<View*> _subviews;
  ViewHost* _host = nullptr;
  std::vector<TrackingArea> _trackingAreas;
  int _nextTrackingAreaId = 1;
};

}  // namespace appkit

#pragma once

#include <atomic>
#include <optional>

#include "appkit/ButtonCell.h"
#include "appkit/Color.h"

// The cell of the pop-up's flat buttons: a rounded rectangle filled with one colour (or, in
// border style, outlined in it) instead of the platform's bezel. The colour of the moment is the
// button cell's background colour, which follows the mouse: bkColor when loaded, hotColor while
// the pointer is inside, pushColor while pressed, norColor after release or when the pointer
// leaves. Made by the window layout, which may set any of the properties below.
//
// Main thread only, like every cell; borderStyle alone is atomic.
class ColorButtonCell : public appkit::ButtonCell {
 public:
  ColorButtonCell();
  ~ColorButtonCell() override;

  bool initWithCoder(const appkit::Coder& coder) override;
  void awakeFromNib() override;

  // Stores `color` as the base colour and derives the state colours from its red, green and
  // blue: norColor = color, hotColor alpha 0.9, pushColor alpha 0.8; then shows it. A colour of
  // the white space is taken as the RGB colour of equal components.
  void setBkColor(const appkit::Color& color);
  const std::optional<appkit::Color>& bkColor() const { return _bkColor; }

  bool hasBorderStyle() const { return _borderStyle.load(); }
  void setBorderStyle(bool borderStyle) { _borderStyle.store(borderStyle); }

  // Plain stores: setting one does not change the colour shown now.
  const std::optional<appkit::Color>& norColor() const { return _norColor; }
  void setNorColor(std::optional<appkit::Color> color) { _norColor = std::move(color); }
  const std::optional<appkit::Color>& hotColor() const { return _hotColor; }
  void setHotColor(std::optional<appkit::Color> color) { _hotColor = std::move(color); }
  const std::optional<appkit::Color>& pushColor() const { return _pushColor; }
  void setPushColor(std::optional<appkit::Color> color) { _pushColor = std::move(color); }

  bool roundedCorner() const { return _roundedCorner; }
  void setRoundedCorner(bool roundedCorner) { _roundedCorner = roundedCorner; }

  void drawBezelWithFrame(appkit::Rect frame, appkit::View* controlView) override;
  void drawInteriorWithFrame(appkit::Rect frame, appkit::View* controlView) override;
  appkit::Rect drawTitle(const appkit::AttributedString& title, appkit::Rect frame,
                         appkit::View* controlView) override;

  bool startTrackingAt(appkit::Point startPoint, appkit::View* controlView) override;
  bool continueTracking(appkit::Point lastPoint, appkit::Point currentPoint,
                        appkit::View* controlView) override;
  void stopTracking(appkit::Point lastPoint, appkit::Point stopPoint, appkit::View* controlView,
                    bool mouseIsUp) override;
  void mouseEntered(const appkit::Event& event) override;
  void mouseExited(const appkit::Event& event) override;

 private:
  // The corner radius of a rounded rectangle on `rect`: half its height (in single precision)
  // when roundedCorner, else 0.
  double cornerRadius(appkit::Rect rect) const;

  // Declared in this order so that they are released push, hot, normal, base.
  std::optional<appkit::Color> _bkColor;
  std::atomic<bool> _borderStyle{false};
  std::optional<appkit::Color> _norColor;
  std::optional<appkit::Color> _hotColor;
  std::optional<appkit::Color> _pushColor;
  bool _roundedCorner = false;
};

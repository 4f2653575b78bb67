#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "appkit/Cell.h"
#include "appkit/Color.h"

namespace appkit {

class TextLayout;

// The shape of a push button's bezel. The values are the platform's, as layouts store them.
enum class BezelStyle { Rounded = 1, RegularSquare = 2, ShadowlessSquare = 6, RoundRect = 12 };
// How a button behaves when clicked: a push button, or a check box (Switch) that toggles.
enum class ButtonType { MomentaryPushIn = 0, Switch = 3, MomentaryLight = 7 };

// The cell of a push button or a check box.
//
// A push button draws a light rounded bezel (filled with the background colour when one is set,
// darker while highlighted) and its title centred. A check box (ButtonType::Switch) draws no
// bezel: a 14-point rounded box at the left, white with a grey border when off, blue with a white
// tick when on, and its title to the right of the box; a click toggles its state.
//
// The title is laid out once per change of text, attributes or width and the layout is kept, so
// redrawing an unchanged title costs no layout. Main thread only.
class ButtonCell : public Cell {
 public:
  using BezelStyle = appkit::BezelStyle;
  using ButtonType = appkit::ButtonType;

  // The side of a check box's box, in points.
  static constexpr double kCheckBoxSize = 14;
  // The space between a check box's box and its title, in points.
  static constexpr double kCheckBoxTitleGap = 4;

  ButtonCell();
  ~ButtonCell() override;

  // The colour the bezel is filled with, or none for the default bezel. A change redraws the
  // control view at once.
  const std::optional<Color>& backgroundColor() const { return _backgroundColor; }
  void setBackgroundColor(std::optional<Color> color);

  BezelStyle bezelStyle() const { return _bezelStyle; }
  void setBezelStyle(BezelStyle style);
  ButtonType buttonType() const { return _buttonType; }
  void setButtonType(ButtonType type);

  // A check box toggles between off and on; other buttons keep their state.
  int nextState() const override;

  void drawBezelWithFrame(Rect frame, View* view) override;
  // Draws the check box's box (for a switch), then the title through drawTitle.
  void drawInteriorWithFrame(Rect frame, View* view) override;
  // Draws `title` in `frame`: centred on both axes for a push button, left-aligned and centred
  // vertically for a check box. Answers the rectangle the text was drawn in (empty for an empty
  // title).
  virtual Rect drawTitle(const AttributedString& title, Rect frame, View* view);

  // What the keyboard focus ring goes around: the whole frame of a push button, the box and the
  // title of a check box.
  Rect focusRingRectForBounds(Rect frame);

  // How many times the title has been laid out (for tests of the cache).
  std::uint64_t titleLayoutCount() const;

 protected:
  TextAlignment titleAlignment() const override;
  // Where the title goes within the cell's frame.
  Rect titleRectForBounds(Rect frame) const;
  void drawCheckBox(Rect frame);

 private:
  std::optional<Color> _backgroundColor;
  BezelStyle _bezelStyle = BezelStyle::Rounded;
  ButtonType _buttonType = ButtonType::MomentaryPushIn;
  std::unique_ptr<TextLayout> _titleLayout;
};

}  // namespace appkit

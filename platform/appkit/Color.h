#pragma once

namespace appkit {

// A colour in one of the two calibrated colour spaces, with alpha. A plain value; components are
// clamped to [0, 1] when made (NaN becomes 0).
class Color {
 public:
  enum class Space { CalibratedRGB, CalibratedWhite };

  struct RGBA {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 0;
    bool operator==(const RGBA&) const = default;
  };

  static Color colorWithCalibratedRed(double red, double green, double blue, double alpha);
  static Color colorWithCalibratedWhite(double white, double alpha);
  // The named colours: white and black in the white space, red in RGB, clear = white 0 alpha 0.
  static Color whiteColor();
  static Color blackColor();
  static Color redColor();
  static Color clearColor();

  Space colorSpace() const { return _space; }
  // The components in the RGB space: a white colour converts to equal red, green and blue.
  RGBA rgba() const;
  // This colour in the calibrated RGB space (itself when already there).
  Color colorUsingCalibratedRGB() const;
  double alphaComponent() const { return _c[3]; }
  // The white component of a white colour; for an RGB colour the mean of its three components.
  double whiteComponent() const;

  // Makes this colour the fill and stroke colour of the current graphics context (main thread;
  // nothing happens when there is no current context).
  void set() const;
  void setFill() const;
  void setStroke() const;

  bool operator==(const Color&) const = default;

 private:
  Color(Space space, double c0, double c1, double c2, double alpha);
  Space _space = Space::CalibratedWhite;
  double _c[4] = {0, 0, 0, 0};  // RGB: red, green, blue; white: white, white, white; then alpha
};

}  // namespace appkit

#pragma once

#include <cstddef>
#include <optional>

namespace appkit {

// The scale a desktop's settings manager publishes in the XSETTINGS property of its window
// (_XSETTINGS_SETTINGS): Gdk/WindowScalingFactor and Xft/DPI. A plain value.
class XSettings {
 public:
  // Reads the property's bytes; settings that are cut short or malformed end the reading, and
  // what was read before them stays.
  static XSettings parse(const unsigned char* data, std::size_t size);

  // The window scaling factor, a whole number of at least 1, when published.
  std::optional<int> windowScalingFactor() const { return _windowScalingFactor; }
  // Xft/DPI in dots per inch (the property holds it times 1024), when published and positive.
  std::optional<double> dpi() const { return _dpi; }
  // The device pixels per point these settings ask for: the larger of the window scaling factor
  // and the DPI over 96 (a fractional scale comes through the DPI); nullopt when neither is set.
  std::optional<double> scale() const;

 private:
  std::optional<int> _windowScalingFactor;
  std::optional<double> _dpi;
};

}  // namespace appkit

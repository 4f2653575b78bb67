#pragma once

#include <memory>

namespace appkit {

// A font of the system family (fontconfig's "Sans": DejaVu Sans, with fontconfig's fallback for
// the scripts it lacks, such as WenQuanYi Micro Hei for Chinese, Japanese and Korean) at a size in
// points, regular or bold. A plain value, cheap to copy; any thread.
//
// The font description behind it is made once per (size, weight) and shared by every copy, so
// choosing the same font again repeats no lookup.
class Font {
 public:
  // The size a zero, negative or non-finite size stands for, as AppKit's "system font size".
  static constexpr double kSystemFontSize = 13;
  // Sizes are capped at this many points.
  static constexpr double kMaximumSize = 1000;

  static Font systemFontOfSize(double points);
  static Font boldSystemFontOfSize(double points);

  double pointSize() const;
  bool isBold() const;

  // Same size and weight.
  bool operator==(const Font& other) const;

 private:
  friend class FontAccess;
  struct Description;
  // The font of (size, bold), its description made on first use and kept for the process.
  static Font shared(double size, bool bold);
  explicit Font(std::shared_ptr<const Description> description);
  std::shared_ptr<const Description> _description;
};

}  // namespace appkit

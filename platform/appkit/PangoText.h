#pragma once

// Internal to appkit (not for callers): the pango side of fonts and text. Included by .cpp files
// only, so that pango stays out of the public headers.

#include <pango/pangocairo.h>

#include "appkit/Font.h"

namespace appkit {

class FontAccess {
 public:
  // The pango description of `font`: owned by the font, alive as long as any copy of it. Its
  // size is absolute (in user-space units, i.e. points), its family "Sans".
  static const PangoFontDescription* pangoDescription(const Font& font);
};

}  // namespace appkit

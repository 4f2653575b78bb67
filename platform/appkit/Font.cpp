#include "appkit/Font.h"

#include <cmath>
#include <map>
#include <utility>

#include "appkit/GraphicsHandles.h"
#include "appkit/PangoText.h"
#include "foundation/Mutex.h"

namespace appkit {

struct Font::Description {
  Description(double size, bool bold)
      : size(size), bold(bold), pango(pango_font_description_new()) {
    pango_font_description_set_family_static(pango.get(), "Sans");
    pango_font_description_set_weight(pango.get(), bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(pango.get(), size * PANGO_SCALE);
  }

  double size;
  bool bold;
  PangoFontDescriptionHandle pango;
};

namespace {

double usableSize(double points) {
  if (!std::isfinite(points) || points <= 0) return Font::kSystemFontSize;
  return std::min(points, Font::kMaximumSize);
}

}  // namespace

Font::Font(std::shared_ptr<const Description> description) : _description(std::move(description)) {}

Font Font::systemFontOfSize(double points) { return shared(usableSize(points), false); }

Font Font::boldSystemFontOfSize(double points) { return shared(usableSize(points), true); }

double Font::pointSize() const { return _description->size; }
bool Font::isBold() const { return _description->bold; }

bool Font::operator==(const Font& other) const {
  return _description == other._description || (_description->size == other._description->size &&
                                                _description->bold == other._description->bold);
}

const PangoFontDescription* FontAccess::pangoDescription(const Font& font) {
  return font._description->pango.get();
}

Font Font::shared(double size, bool bold) {
  // A program uses a handful of sizes: the cache is never trimmed.
  static foundation::Mutex mutex;
  static auto* cache PT_GUARDED_BY(mutex) =
      new std::map<std::pair<double, bool>, std::shared_ptr<const Description>>;
  foundation::MutexLock lock(mutex);
  auto& slot = (*cache)[{size, bold}];
  if (!slot) slot = std::make_shared<const Description>(size, bold);
  return Font(slot);
}

}  // namespace appkit

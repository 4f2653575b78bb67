#include "Text.h"

#include <glib.h>

#include <memory>

namespace foundation {
namespace {

struct GFree {
  void operator()(gchar* text) const { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFree>;

std::string asciiFolded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

}  // namespace

std::string caseFolded(std::string_view text) {
  if (text.size() > static_cast<size_t>(G_MAXSSIZE) ||
      !g_utf8_validate_len(text.data(), text.size(), nullptr)) {
    return asciiFolded(text);
  }
  const auto length = static_cast<gssize>(text.size());
  // Canonical caseless form: decompose, fold, compose again.
  GText decomposed(g_utf8_normalize(text.data(), length, G_NORMALIZE_NFD));
  if (!decomposed) return asciiFolded(text);
  GText folded(g_utf8_casefold(decomposed.get(), -1));
  if (!folded) return asciiFolded(text);
  GText composed(g_utf8_normalize(folded.get(), -1, G_NORMALIZE_NFC));
  if (!composed) return asciiFolded(text);
  return std::string(composed.get());
}

}  // namespace foundation

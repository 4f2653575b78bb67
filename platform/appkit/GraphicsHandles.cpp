#include "appkit/GraphicsHandles.h"

#include <pango/pango.h>

namespace appkit {

void releasePangoAttrList(PangoAttrList* list) { pango_attr_list_unref(list); }

void releasePangoContext(PangoContext* context) { g_object_unref(context); }

void releasePangoFontDescription(PangoFontDescription* description) {
  pango_font_description_free(description);
}

void releasePangoLayout(PangoLayout* layout) { g_object_unref(layout); }

}  // namespace appkit

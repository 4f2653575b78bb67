#pragma once

#include "appkit/ClassDescription.h"
#include "appkit/ClassRegistry.h"

namespace appkit {

// Registers a class with the shared registry when constructed; meant as a file-scope static in
// the class's own .cpp (see ClassBuilder.h).
//
// A static library's object file is linked only if something else references it, and a layout
// names its classes by string alone, so the registrar of a class kept in a static library would
// be dropped with its object file. Link such libraries whole: compile the classes into the
// executable itself, or use appkit_link_layout_classes(<target> <library>) from
// platform/appkit/CMakeLists.txt, which links <library> with WHOLE_ARCHIVE. Layout classes of
// appkit itself (a static library too) must not rely on registrars: they are to be registered by
// explicit calls from ClassRegistry::shared().
class ClassRegistrar {
 public:
  explicit ClassRegistrar(ClassDescription description) {
    ClassRegistry::shared().registerClass(std::move(description));
  }
};

}  // namespace appkit

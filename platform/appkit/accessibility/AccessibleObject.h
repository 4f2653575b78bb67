#pragma once

typedef struct _AtkObject AtkObject;

namespace appkit {

class AccessibleTree;
class View;
class Window;

// The GObject classes behind the accessible objects. Each new object comes with one reference,
// the caller's. Window and view objects read what they report from their window or view at each
// question, until accessibleDetach() says it is gone. Main thread only.
AtkObject* accessibleApplicationNew(AccessibleTree& tree);
AtkObject* accessibleWindowNew(AccessibleTree& tree, Window& window);
// A push button or check box answers the "click" action, a label the text interface.
AtkObject* accessibleViewNew(AccessibleTree& tree, View& view);
void accessibleDetach(AtkObject* object);

}  // namespace appkit

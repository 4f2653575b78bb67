#pragma once

#include "UsageLogLib/ExportObj.h"

extern "C" {

// A new export object, the caller's until DestroyExportObj; null when none can be made. Touches no
// file: the spool is found and created when the object is first used. Thread-safe.
__attribute__((visibility("default"))) ExportObj* CreateExportObj(void);

// Releases an object made by CreateExportObj; null is ignored. No call on the object may be
// running or follow.
__attribute__((visibility("default"))) void DestroyExportObj(ExportObj* obj);
}

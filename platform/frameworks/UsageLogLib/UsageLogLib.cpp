#include "UsageLogLib/UsageLogLib.h"

#include <new>

#include "SpoolExportObj.h"

extern "C" ExportObj* CreateExportObj(void) { return new (std::nothrow) SpoolExportObj(); }

extern "C" void DestroyExportObj(ExportObj* obj) { delete obj; }

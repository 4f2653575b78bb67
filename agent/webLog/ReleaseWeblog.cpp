#include "ReleaseWeblog.h"

#include "ProductLogManager.h"

ReleaseWeblog::~ReleaseWeblog() { ProductLogManager::releaseExportObj(); }

#pragma once

#include "appkit/ApplicationDelegate.h"
#include "appkit/Object.h"

// The application's delegate, created by the main window layout. For now it knows one mode,
// "-demo": it stores the three settings, reads them back, prints them with the file they live in
// and that file's SHA-1 digest, and quits. Without a known argument it quits at once.
class AppDelegate : public appkit::Object, public appkit::ApplicationDelegate {
 public:
  void applicationDidFinishLaunching() override;
  void applicationWillTerminate() override {}
};

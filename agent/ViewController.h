#pragma once

#include "appkit/ViewController.h"

// The view controller of the agent's window layout; it adds no behaviour of its own.
class ViewController : public appkit::ViewController {
 public:
  void awakeFromNib() override;
  void viewDidLoad() override;
  void loadView() override;
  void setRepresentedObject(appkit::Object* representedObject) override;
};

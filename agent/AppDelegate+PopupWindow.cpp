// AppDelegate: the pop-up window, its buttons and its events.

#include "AppDelegate.h"

void AppDelegate::needPopDialog(std::int64_t style) { windowPopStyle = style; }

void AppDelegate::animationPopWindow(bool show) { windowShow.store(show); }

void AppDelegate::onOkBtn(appkit::Object*) {}

void AppDelegate::onCancelBtn(appkit::Object*) {}

void AppDelegate::onClickNeverPopCheckBox(appkit::Object*) {}

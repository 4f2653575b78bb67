#include "appkit/Cursor.h"

#include "appkit/MainThreadCheck.h"

namespace appkit {
namespace {

Cursor::Kind s_current = Cursor::Kind::Arrow;

std::function<void(Cursor::Kind)>& presenter() {
  static std::function<void(Cursor::Kind)> s_presenter;
  return s_presenter;
}

}  // namespace

const Cursor& Cursor::arrowCursor() {
  static const Cursor s_arrow(Kind::Arrow);
  return s_arrow;
}

const Cursor& Cursor::pointingHandCursor() {
  static const Cursor s_hand(Kind::PointingHand);
  return s_hand;
}

void Cursor::set() const {
  APPKIT_ASSERT_MAIN_THREAD();
  s_current = _kind;
  if (presenter()) presenter()(_kind);
}

Cursor::Kind Cursor::currentKind() {
  APPKIT_ASSERT_MAIN_THREAD();
  return s_current;
}

void Cursor::setPresenter(std::function<void(Kind)> newPresenter) {
  APPKIT_ASSERT_MAIN_THREAD();
  presenter() = std::move(newPresenter);
}

}  // namespace appkit

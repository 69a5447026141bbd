#include "app/logical_dpi_qt.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace ostrivane {

bool QtLogicalDpi(unsigned& x, unsigned& y) {
  if (QGuiApplication::instance() == nullptr) return false;
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return false;
  x = static_cast<unsigned>(std::lround(screen->logicalDotsPerInchX()));
  y = static_cast<unsigned>(std::lround(screen->logicalDotsPerInchY()));
  return true;
}

}  // namespace ostrivane

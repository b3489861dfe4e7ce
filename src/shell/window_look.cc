#include "shell/window_look.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace gateway {

void ApplyWindowLook(QApplication& application) {
  QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"));
  if (style == nullptr) return;
  application.setStyle(style);
  QPalette palette = style->standardPalette();
  const QColor kLightGrey(0xF0, 0xF0, 0xF0);
  palette.setColor(QPalette::Window, kLightGrey);
  palette.setColor(QPalette::Button, kLightGrey);
  application.setPalette(palette);
}

}  // namespace gateway

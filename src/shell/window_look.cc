#include "shell/window_look.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QRegion>
#include <QStringList>
#include <QStyleFactory>
#include <QStyleOptionGroupBox>

namespace gateway {
namespace {

// Where a group box caption stands: indented from the box's left edge, with a gap on either
// side where the frame line stops.
constexpr int kCaptionIndent = 6;
constexpr int kCaptionGap = 2;

// Fusion with the group box of the designed window: the frame line runs through the middle of
// the caption, so that the controls placed just below the caption lie inside the frame. Fusion's
// own group box puts the caption above the frame, whose top line then cuts through them.
class WindowStyle : public QProxyStyle {
 public:
  explicit WindowStyle(QStyle* base) : QProxyStyle(base) {}

  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                       const QWidget* widget) const override {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || box == nullptr || IsCheckable(*box)) {
      return QProxyStyle::subControlRect(control, option, part, widget);
    }
    const int caption_height = box->fontMetrics.height();
    switch (part) {
      case SC_GroupBoxLabel:
        if (box->text.isEmpty()) return {};
        return QRect(kCaptionIndent, 0,
                     box->fontMetrics.horizontalAdvance(box->text) + 2 * kCaptionGap,
                     caption_height);
      case SC_GroupBoxFrame:
        return box->rect.adjusted(0, box->text.isEmpty() ? 0 : caption_height / 2, 0, 0);
      case SC_GroupBoxContents:
        return box->rect.adjusted(2, caption_height, -2, -2);
      default:
        return QProxyStyle::subControlRect(control, option, part, widget);
    }
  }

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override {
    const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
    if (control != CC_GroupBox || box == nullptr || IsCheckable(*box)) {
      QProxyStyle::drawComplexControl(control, option, painter, widget);
      return;
    }
    const QRect caption = subControlRect(control, option, SC_GroupBoxLabel, widget);
    const QRect frame = subControlRect(control, option, SC_GroupBoxFrame, widget);
    painter->save();
    QRegion around_caption(box->rect);
    around_caption -= caption;
    painter->setClipRegion(around_caption);
    // An etched line: a shadow line with a light line beside it.
    painter->setPen(box->palette.color(QPalette::Mid));
    painter->drawRect(frame.adjusted(0, 0, -2, -2));
    painter->setPen(box->palette.color(QPalette::Light));
    painter->drawRect(frame.adjusted(1, 1, -1, -1));
    painter->restore();
    if (!caption.isEmpty()) {
      drawItemText(painter, caption.adjusted(kCaptionGap, 0, 0, 0),
                   Qt::AlignLeft | Qt::AlignVCenter, box->palette,
                   box->state.testFlag(State_Enabled), box->text, QPalette::WindowText);
    }
  }

 private:
  static bool IsCheckable(const QStyleOptionGroupBox& box) {
    return box.subControls.testFlag(SC_GroupBoxCheckBox);
  }
};

}  // namespace

void ApplyWindowLook(QApplication& application) {
  QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
  if (fusion == nullptr) return;
  auto* style = new WindowStyle(fusion);
  application.setStyle(style);
  QPalette palette = style->standardPalette();
  const QColor kLightGrey(0xF0, 0xF0, 0xF0);
  palette.setColor(QPalette::Window, kLightGrey);
  palette.setColor(QPalette::Button, kLightGrey);
  application.setPalette(palette);
}

QFont WindowFont() {
  QStringList faces;
  for (const char* face : kWindowFaces) faces << QString::fromLatin1(face);
  QFont font;
  font.setFamilies(faces);
  // Without any of the faces the font matcher still picks a sans-serif, not a serif.
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

}  // namespace gateway

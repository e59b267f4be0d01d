#include "app/desktop/widget_kit.h"

#include <QPalette>
#include <QPushButton>
#include <QWidget>

#include "common/cp1250.h"

namespace ratemover::desktop {

QString FromCp1250(const std::string& text) { return QString::fromStdString(Utf8FromCp1250(text)); }

std::string ToCp1250(const QString& text) { return Cp1250FromUtf8(text.toStdString()); }

void Colour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, colour);
  widget->setPalette(palette);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  return button;
}

}  // namespace ratemover::desktop

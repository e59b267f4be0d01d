#include "app/desktop/widget_kit.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOption>
#include <QWidget>

#include "common/cp1250.h"

namespace ratemover::desktop {

namespace {

// The toolkit's own focus mark on a push button is a thin light-blue line that
// vanishes against navy; this style draws a ring over the button's edge.
class VisibleFocusStyle final : public QProxyStyle {
 public:
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    QProxyStyle::drawControl(element, option, painter, widget);
    if (element != CE_PushButton || !(option->state & State_HasFocus)) return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setBrush(Qt::NoBrush);
    const QRect edge = option->rect;
    painter->setPen(QPen(kFocusRing, 1));
    painter->drawRect(edge.adjusted(0, 0, -1, -1));
    painter->drawRect(edge.adjusted(1, 1, -2, -2));
    painter->setPen(QPen(kNavy, 1));
    painter->drawRect(edge.adjusted(2, 2, -3, -3));
    painter->restore();
  }
};

// One style for every button, owned by the application.
QStyle* ButtonStyle() {
  static QPointer<QStyle> style;
  if (style == nullptr) {
    style = new VisibleFocusStyle;
    style->setParent(QApplication::instance());
  }
  return style;
}

class NamedListAccessible final : public QAccessibleWidget {
 public:
  explicit NamedListAccessible(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}
  QString text(QAccessible::Text which) const override {
    const auto* list = static_cast<const QComboBox*>(widget());
    if (which == QAccessible::Name) return list->accessibleName();
    if (which == QAccessible::Value) return list->currentText();
    return QAccessibleWidget::text(which);
  }
};

QAccessibleInterface* NamedListFactory(const QString& className, QObject* object) {
  auto* list = qobject_cast<QComboBox*>(object);
  if (className != QStringLiteral("QComboBox") || list == nullptr || list->accessibleName().isEmpty()) return nullptr;
  return new NamedListAccessible(list);
}

}  // namespace

void NameListsByTheirOwnNames() {
  static const bool installed = [] {
    QAccessible::installFactory(NamedListFactory);
    return true;
  }();
  (void)installed;
}

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
  button->setStyle(ButtonStyle());
  return button;
}

}  // namespace ratemover::desktop

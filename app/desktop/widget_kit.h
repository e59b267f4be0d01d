#pragma once
// What the two windows share: the text edge between Windows-1250 and Qt, the
// design colours and the plain push button of the design.
#include <QColor>
#include <QRect>
#include <QString>

#include <string>

class QPushButton;
class QWidget;

namespace ratemover::desktop {

inline const QColor kNavy(0, 0, 128);
// The ring round the button that has the keyboard focus: the design's yellow,
// plain to see on navy, with a navy line inside it that sets it off from the
// button's light face.
inline const QColor kFocusRing(Qt::yellow);

QString FromCp1250(const std::string& text);
std::string ToCp1250(const QString& text);

// Sets the colour of a widget's text.
void Colour(QWidget* widget, const QColor& colour);

// A push button at its design place that never takes Enter for itself and
// shows the keyboard focus as a ring of kFocusRing.
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, QRect geometry);

// The toolkit names a list by its value on this platform and leaves its label
// to a relation that not every screen reader follows. After this, a list that
// has a name of its own when a screen reader first asks is told by that name,
// and its value as the value.
void NameListsByTheirOwnNames();

}  // namespace ratemover::desktop

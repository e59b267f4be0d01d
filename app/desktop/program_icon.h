#pragma once
// The program's icon. One drawing, icons/ratemover.svg, serves both the desktop
// (installed into the icon theme) and the window; the toolkit here has no SVG
// support of its own, so the window paints the drawing's few shapes itself.
#include <QByteArray>
#include <QIcon>
#include <QImage>

namespace ratemover::desktop {

// The icon at the usual sizes, painted from the drawing built into the program.
QIcon ProgramIcon();

// Paints an SVG drawing of the simple kind the icon is made of (rect with rx,
// line, and path of M, L, H, V and Z; fill, stroke and stroke-width, inherited
// from g) into a transparent square image of the given side. A drawing that
// cannot be read gives a null image.
QImage PaintSimpleSvg(const QByteArray& svg, int side);

}  // namespace ratemover::desktop

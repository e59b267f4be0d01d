#pragma once
// The program's icon. One drawing, icons/ratemover.svg, serves both the desktop
// (installed into the icon theme) and the window, which renders it with the
// toolkit's SVG renderer at the usual sizes.
#include <QIcon>

namespace ratemover::desktop {

// The icon at the usual sizes, rendered from the drawing built into the program.
QIcon ProgramIcon();

}  // namespace ratemover::desktop

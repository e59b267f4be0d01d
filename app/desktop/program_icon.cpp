#include "app/desktop/program_icon.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace ratemover::desktop {

QIcon ProgramIcon() {
  QSvgRenderer drawing(QStringLiteral(":/ratemover/ratemover.svg"));
  if (!drawing.isValid()) return QIcon();
  QIcon icon;
  for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawing.render(&painter);
    painter.end();
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

}  // namespace ratemover::desktop

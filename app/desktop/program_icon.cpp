#include "app/desktop/program_icon.h"

#include <QColor>
#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPixmap>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <optional>
#include <vector>

namespace ratemover::desktop {

namespace {

struct Paint {
  QColor fill = Qt::black;  // SVG's default fill
  QColor stroke;            // none unless given
  double strokeWidth = 1;
};

Paint Inherit(const Paint& outer, const QXmlStreamAttributes& attributes) {
  Paint paint = outer;
  if (attributes.hasAttribute(QStringLiteral("fill"))) {
    const auto fill = attributes.value(QStringLiteral("fill"));
    paint.fill = fill == QStringLiteral("none") ? QColor() : QColor::fromString(fill);
  }
  if (attributes.hasAttribute(QStringLiteral("stroke"))) {
    const auto stroke = attributes.value(QStringLiteral("stroke"));
    paint.stroke = stroke == QStringLiteral("none") ? QColor() : QColor::fromString(stroke);
  }
  if (attributes.hasAttribute(QStringLiteral("stroke-width"))) {
    paint.strokeWidth = attributes.value(QStringLiteral("stroke-width")).toDouble();
  }
  return paint;
}

double Number(const QXmlStreamAttributes& attributes, const char* name) {
  return attributes.value(QString::fromLatin1(name)).toDouble();
}

// "M x y L x y H x V y Z" with absolute coordinates; nothing for anything else.
std::optional<QPainterPath> PathData(const QString& data) {
  static const QRegularExpression token(QStringLiteral("[MLHVZ]|-?[0-9]*\\.?[0-9]+"));
  std::vector<QString> tokens;
  qsizetype covered = 0;
  for (auto it = token.globalMatch(data); it.hasNext();) {
    const auto match = it.next();
    if (!data.mid(covered, match.capturedStart() - covered).trimmed().remove(QChar(u',')).isEmpty()) {
      return std::nullopt;
    }
    tokens.push_back(match.captured());
    covered = match.capturedEnd();
  }
  if (!data.mid(covered).trimmed().isEmpty()) return std::nullopt;

  QPainterPath path;
  QChar command;
  std::size_t i = 0;
  auto next = [&](double& value) {
    if (i >= tokens.size() || tokens[i][0].isLetter()) return false;
    value = tokens[i++].toDouble();
    return true;
  };
  while (i < tokens.size()) {
    if (tokens[i][0].isLetter()) command = tokens[i++][0];
    double x = 0, y = 0;
    if (command == u'Z') {
      path.closeSubpath();
      command = QChar();
    } else if (command == u'M' || command == u'L') {
      if (!next(x) || !next(y)) return std::nullopt;
      if (command == u'M') {
        path.moveTo(x, y);
        command = u'L';  // further pairs after a move are lines
      } else {
        path.lineTo(x, y);
      }
    } else if (command == u'H') {
      if (!next(x)) return std::nullopt;
      path.lineTo(x, path.currentPosition().y());
    } else if (command == u'V') {
      if (!next(y)) return std::nullopt;
      path.lineTo(path.currentPosition().x(), y);
    } else {
      return std::nullopt;
    }
  }
  return path;
}

void Draw(QPainter& painter, const QPainterPath& shape, const Paint& paint) {
  painter.setBrush(paint.fill.isValid() ? QBrush(paint.fill) : QBrush(Qt::NoBrush));
  painter.setPen(paint.stroke.isValid() ? QPen(paint.stroke, paint.strokeWidth) : QPen(Qt::NoPen));
  painter.drawPath(shape);
}

}  // namespace

QImage PaintSimpleSvg(const QByteArray& svg, int side) {
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);

  QXmlStreamReader reader(svg);
  std::vector<Paint> paints{Paint{}};
  bool sawRoot = false;
  while (!reader.atEnd()) {
    const auto kind = reader.readNext();
    if (kind == QXmlStreamReader::EndElement) {
      paints.pop_back();
      continue;
    }
    if (kind != QXmlStreamReader::StartElement) continue;
    const auto attributes = reader.attributes();
    const auto name = reader.name();
    const Paint paint = Inherit(paints.back(), attributes);
    paints.push_back(paint);
    if (name == QStringLiteral("svg")) {
      const QStringList box = attributes.value(QStringLiteral("viewBox")).toString().split(QChar(u' '), Qt::SkipEmptyParts);
      if (box.size() != 4 || box[2].toDouble() <= 0 || box[3].toDouble() <= 0) return QImage();
      painter.scale(side / box[2].toDouble(), side / box[3].toDouble());
      painter.translate(-box[0].toDouble(), -box[1].toDouble());
      sawRoot = true;
    } else if (!sawRoot) {
      return QImage();
    } else if (name == QStringLiteral("rect")) {
      QPainterPath shape;
      const double radius = Number(attributes, "rx");
      shape.addRoundedRect(Number(attributes, "x"), Number(attributes, "y"), Number(attributes, "width"),
                           Number(attributes, "height"), radius, radius);
      Draw(painter, shape, paint);
    } else if (name == QStringLiteral("line")) {
      QPainterPath shape;
      shape.moveTo(Number(attributes, "x1"), Number(attributes, "y1"));
      shape.lineTo(Number(attributes, "x2"), Number(attributes, "y2"));
      Draw(painter, shape, Paint{QColor(), paint.stroke, paint.strokeWidth});
    } else if (name == QStringLiteral("path")) {
      const auto shape = PathData(attributes.value(QStringLiteral("d")).toString());
      if (!shape) return QImage();
      Draw(painter, *shape, paint);
    }
  }
  if (reader.hasError() || !sawRoot) return QImage();
  return image;
}

QIcon ProgramIcon() {
  QFile file(QStringLiteral(":/ratemover/ratemover.svg"));
  if (!file.open(QIODevice::ReadOnly)) return QIcon();
  const QByteArray drawing = file.readAll();
  QIcon icon;
  for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
    const QImage image = PaintSimpleSvg(drawing, side);
    if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

}  // namespace ratemover::desktop

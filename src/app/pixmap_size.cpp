#include "app/pixmap_size.h"

#include <QRegularExpression>

namespace orv {

QSize pixmapSizeFromText(bool accepted, const QString& text, const QSize& viewSize) {
  if (!accepted) return QSize(-1, -1);
  static const QRegularExpression re(QRegularExpression::anchoredPattern("([0-9]+) *x *([0-9]+)"));
  const QRegularExpressionMatch m = re.match(text);
  if (!m.hasMatch()) return viewSize;
  // A digit string too long for an int fails toInt() and so falls out of range.
  bool okW = false, okH = false;
  const int w = m.captured(1).toInt(&okW);
  const int h = m.captured(2).toInt(&okH);
  const bool inRange = okW && okH && w >= 1 && w < 2048 && h >= 1 && h < 2048;
  return inRange ? QSize(w, h) : viewSize;
}

}  // namespace orv

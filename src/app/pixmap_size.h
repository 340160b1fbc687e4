// The size asked for by "Render into Pixmap...": a pure function of the text
// typed into the size dialog, so its rules are tested without a dialog.
#pragma once

#include <QSize>
#include <QString>

namespace orv {

// `accepted` false (the dialog was cancelled) gives (-1, -1): nothing is rendered.
// Otherwise the text must read "<w> x <h>" (blanks around the x optional) with
// both numbers in 1..2047; anything else falls back to `viewSize`.
QSize pixmapSizeFromText(bool accepted, const QString& text, const QSize& viewSize);

}  // namespace orv

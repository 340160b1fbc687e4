// Pictures of a plot for reports: PNG, SVG or PDF at a chosen size, and the
// dialog that asks for the format and the size.
#pragma once

#include <QDialog>
#include <QImage>
#include <QSize>
#include <QString>

class QComboBox;
class QSpinBox;
class QwtPlot;

// The plot drawn into an image of `size` pixels on white.
QImage plotImage(QwtPlot* plot, const QSize& size);

// Writes the plot at `path` in the format its suffix names (png, svg, pdf),
// `size` pixels large (SVG and PDF at 96 dots per inch). False, with `why`,
// for another suffix or a file that cannot be written.
bool renderPlot(QwtPlot* plot, const QString& path, const QSize& size, QString& why);

// Asks for the format (PNG, SVG, PDF, CSV) and, for pictures, the size.
class ExportDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ExportDialog(const QSize& size, QWidget* parent = nullptr);

  QString suffix() const;  // "png", "svg", "pdf" or "csv"
  QSize size() const;
  QComboBox* formatBox() const { return format_; }

 private:
  QComboBox* format_ = nullptr;
  QSpinBox* width_ = nullptr;
  QSpinBox* height_ = nullptr;
};

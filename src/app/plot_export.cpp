#include "app/plot_export.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QPainter>
#include <QSpinBox>
#include <qwt_plot.h>
#include <qwt_plot_renderer.h>

namespace {
constexpr int kDotsPerInch = 96;
}

QImage plotImage(QwtPlot* plot, const QSize& size) {
  QImage image(size, QImage::Format_ARGB32);
  image.fill(Qt::white);
  QwtPlotRenderer renderer;
  renderer.renderTo(plot, image);
  return image;
}

bool renderPlot(QwtPlot* plot, const QString& path, const QSize& size, QString& why) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  // The renderer says nothing of a file it could not open: try it first.
  QFile probe(path);
  if (!probe.open(QIODevice::WriteOnly)) {
    why = path + " cannot be written: " + probe.errorString();
    return false;
  }
  probe.close();
  if (suffix == "png") {
    if (plotImage(plot, size).save(path, "PNG")) return true;
    why = path + " cannot be written";
    return false;
  }
  if (suffix != "svg" && suffix != "pdf") {
    probe.remove();
    why = path + ": not a picture format (png, svg or pdf)";
    return false;
  }
  const QSizeF mm = QSizeF(size) * (25.4 / kDotsPerInch);
  QwtPlotRenderer().renderDocument(plot, path, suffix, mm, kDotsPerInch);
  if (QFileInfo(path).size() > 0) return true;
  why = path + " cannot be written";
  return false;
}

ExportDialog::ExportDialog(const QSize& size, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Export Plot");
  format_ = new QComboBox(this);
  format_->addItem("PNG picture", "png");
  format_->addItem("SVG drawing", "svg");
  format_->addItem("PDF document", "pdf");
  format_->addItem("CSV of the chosen channels", "csv");
  auto spin = [&](int value) {
    auto* s = new QSpinBox(this);
    s->setRange(100, 8000);
    s->setSuffix(" px");
    s->setValue(value);
    return s;
  };
  width_ = spin(size.width());
  height_ = spin(size.height());
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // A CSV has no size.
  connect(format_, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
    width_->setEnabled(suffix() != "csv");
    height_->setEnabled(suffix() != "csv");
  });
  auto* form = new QFormLayout(this);
  form->addRow("Format:", format_);
  form->addRow("Width:", width_);
  form->addRow("Height:", height_);
  form->addRow(buttons);
}

QString ExportDialog::suffix() const { return format_->currentData().toString(); }

QSize ExportDialog::size() const { return QSize(width_->value(), height_->value()); }

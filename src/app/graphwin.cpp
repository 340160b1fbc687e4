#include "app/graphwin.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPen>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <cmath>
#include <qwt_legend.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_magnifier.h>
#include <qwt_plot_marker.h>
#include <qwt_plot_panner.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>
#include <qwt_scale_map.h>

#include "app/plot_export.h"
#include "files/csv_writer.h"
#include "model/globals.h"
#include "model/histories.h"
#include "model/model.h"

using orv::g_hist;
using orv::g_model;

namespace {

// The unit of an output that is one measure alone, as A1(a,b,c); "" for any
// other expression (its unit depends on what it computes) and for channels
// a result brings (an imported motion's), which name no measure.
QString unitOf(int channel) {
  if (!g_hist.channel_names.empty() || channel >= g_model.output_num()) return {};
  static const QRegularExpression one(R"(^\(*\s*([A-Z_0-9]+)\s*\([^()]*\)\s*\)*$)");
  const auto m =
      one.match(QString::fromStdString(g_model.outputs[static_cast<size_t>(channel)].equ));
  if (!m.hasMatch()) return {};
  const QString f = m.captured(1);
  if (f == "D" || f == "DX" || f == "DY" || f == "DZ") return "m";
  if (f == "V" || f == "VX" || f == "VY" || f == "VZ") return "m/s";
  if (f == "WX" || f == "WY" || f == "WZ") return "rad/s";
  if (f == "A1" || f == "A2" || f == "A3" || f == "TURN") return "rad";
  return {};
}

// Colours told apart on screen and on paper, repeated past the last.
QColor curveColour(size_t k) {
  static const QColor colours[] = {QColor(200, 30, 30), QColor(30, 90, 200),  QColor(20, 150, 60),
                                   QColor(230, 140, 0), QColor(130, 50, 170), QColor(0, 160, 170),
                                   QColor(120, 80, 30), QColor(90, 90, 90)};
  return colours[k % (sizeof colours / sizeof colours[0])];
}

// Within this many pixels of the marker a press takes it rather than zooming.
constexpr int kMarkerGrip = 5;

}  // namespace

DataPlot::DataPlot(QWidget* parent) : QwtPlot(parent) {
  setAxisTitle(QwtPlot::xBottom, "Time[s]");
  setCanvasBackground(Qt::white);
  insertLegend(new QwtLegend(), QwtPlot::BottomLegend);

  auto* grid = new QwtPlotGrid;
  grid->setMajorPen(QColor(200, 200, 200), 0, Qt::DotLine);
  grid->attach(this);

  marker_ = new QwtPlotMarker;
  marker_->setLineStyle(QwtPlotMarker::VLine);
  marker_->setLinePen(Qt::black, 1, Qt::DashLine);
  marker_->setZ(100);  // above the curves
  marker_->attach(this);

  // Left drag: zoom to the rectangle; right click: back to the whole plot,
  // shift + right: one zoom back. Wheel: zoom about the cursor. Middle drag: pan.
  zoomer_ = new QwtPlotZoomer(canvas());
  zoomer_->setRubberBandPen(QPen(Qt::darkBlue, 1, Qt::DashLine));
  zoomer_->setTrackerMode(QwtPicker::AlwaysOff);
  zoomer_->setMousePattern(QwtEventPattern::MouseSelect3, Qt::RightButton, Qt::ShiftModifier);
  auto* panner = new QwtPlotPanner(canvas());
  panner->setMouseButton(Qt::MiddleButton);
  auto* magnifier = new QwtPlotMagnifier(canvas());
  magnifier->setMouseButton(Qt::NoButton);

  // Installed after the pickers, so it sees the mouse first and can take the marker.
  canvas()->setMouseTracking(true);
  canvas()->installEventFilter(this);
}

int DataPlot::sampleAt(double t) const {
  if (time_.empty()) return 0;
  const auto it = std::lower_bound(time_.begin(), time_.end(), t);
  size_t i = static_cast<size_t>(it - time_.begin());
  if (i == time_.size() || (i > 0 && t - time_[i - 1] < time_[i] - t)) --i;
  return static_cast<int>(i);
}

void DataPlot::setChannels(const std::vector<int>& channels, bool keepZoom) {
  // The zoomer, the panner and the wheel all set the scales, which ends autoscaling.
  const bool zoomed = keepZoom && !axisAutoScale(QwtPlot::xBottom);
  const QwtScaleDiv &x0 = axisScaleDiv(QwtPlot::xBottom), &y0 = axisScaleDiv(QwtPlot::yLeft);
  const QRectF shown =
      QRectF(QPointF(x0.lowerBound(), y0.lowerBound()), QPointF(x0.upperBound(), y0.upperBound()))
          .normalized();
  for (QwtPlotCurve* c : curves_) delete c;  // detaches it
  curves_.clear();
  channels_.clear();

  const size_t n = orv::heldSamples(g_model, g_hist);
  const size_t stride = static_cast<size_t>(orv::channelCount(g_model, g_hist));
  time_.assign(g_hist.p_time.begin(), g_hist.p_time.begin() + static_cast<std::ptrdiff_t>(n));
  const QVector<double> x(time_.begin(), time_.end());
  QStringList titles;
  for (int c : channels) {
    if (c < 0 || static_cast<size_t>(c) >= stride) continue;
    QVector<double> y(static_cast<int>(n));
    for (size_t i = 0; i < n; ++i)
      y[static_cast<int>(i)] = g_hist.p_output[i * stride + static_cast<size_t>(c)];
    const QString name = QString::fromStdString(orv::channelName(g_model, g_hist, c));
    const QString unit = unitOf(c);
    titles << (unit.isEmpty() ? name : name + " [" + unit + "]");
    auto* curve = new QwtPlotCurve(name);
    curve->setPen(curveColour(curves_.size()), 1.5);
    curve->setRenderHint(QwtPlotItem::RenderAntialiased);
    curve->setSamples(x, y);
    curve->attach(this);
    curves_.push_back(curve);
    channels_.push_back(c);
  }
  setAxisTitle(QwtPlot::yLeft, titles.join(", "));
  setFrame(frame_);
  // The base is the whole of the new curves, so a right click still shows them all.
  fit();
  if (zoomed) zoomer_->zoom(shown);
}

void DataPlot::setFrame(int frame) {
  frame_ = time_.empty() ? 0 : std::clamp(frame, 0, static_cast<int>(time_.size()) - 1);
  marker_->setXValue(time_.empty() ? 0.0 : time_[static_cast<size_t>(frame_)]);
  marker_->setVisible(!time_.empty());
  replot();
}

void DataPlot::fit() {
  setAxisAutoScale(QwtPlot::xBottom);
  setAxisAutoScale(QwtPlot::yLeft);
  replot();
  zoomer_->setZoomBase(true);
}

QString DataPlot::readout(double t) const {
  if (time_.empty()) return {};
  const size_t i = static_cast<size_t>(sampleAt(t));
  QString text = QString("t = %1 s").arg(time_[i], 0, 'g', 6);
  for (const QwtPlotCurve* c : curves_)
    text += QString("   %1 = %2").arg(c->title().text()).arg(c->sample(i).y(), 0, 'g', 6);
  return text;
}

bool DataPlot::eventFilter(QObject* watched, QEvent* event) {
  if (watched != canvas()) return QwtPlot::eventFilter(watched, event);
  const auto type = event->type();
  if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
      type != QEvent::MouseButtonRelease)
    return QwtPlot::eventFilter(watched, event);
  const auto* me = static_cast<QMouseEvent*>(event);
  const double t = invTransform(QwtPlot::xBottom, me->pos().x());
  const bool onMarker =
      marker_->isVisible() &&
      std::abs(me->pos().x() - transform(QwtPlot::xBottom, marker_->xValue())) <= kMarkerGrip;
  switch (type) {
    case QEvent::MouseButtonPress:
      if (me->button() != Qt::LeftButton || me->modifiers() != Qt::NoModifier || !onMarker)
        return false;
      dragging_ = true;
      return true;
    case QEvent::MouseMove:
      if (dragging_) {
        const int f = sampleAt(t);
        if (f != frame_) {
          setFrame(f);
          emit frameChosen(f);
        }
      }
      canvas()->setCursor(dragging_ || onMarker ? Qt::SizeHorCursor : Qt::CrossCursor);
      emit cursorMoved(readout(t));
      return dragging_;
    default:  // release
      if (!dragging_ || me->button() != Qt::LeftButton) return false;
      dragging_ = false;
      return true;
  }
}

GraphWin::GraphWin(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("Graph Window");

  plot_ = new DataPlot(this);
  plot_->setContentsMargins(5, 5, 5, 5);
  // QwtPlot's own policy makes its size hint a minimum, which would hold the
  // window above the 540 x 400 it is opened at.
  plot_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

  outputList_ = new QListWidget(this);
  outputList_->setToolTip("Output List: check the channels to plot");
  auto* split = new QSplitter(this);
  split->addWidget(outputList_);
  split->addWidget(plot_);
  split->setStretchFactor(1, 1);
  split->setSizes({110, 430});
  setCentralWidget(split);
  fillOutputList({});

  auto* toolBar = addToolBar("Plot");
  toolBar->setObjectName("plotTools");
  toolBar->addAction("Fit", plot_, &DataPlot::fit)->setToolTip("Show all of the curves");
  toolBar->addAction("Export...", this, &GraphWin::exportPlot)
      ->setToolTip("Write the plot as PNG, SVG or PDF, or its channels as CSV");
  toolBar->addAction("Copy", this, &GraphWin::copyToClipboard)
      ->setToolTip("Copy the plot to the clipboard as a picture");

  readout_ = new QLabel(this);
  statusBar()->addWidget(readout_, 1);

  // Checking a channel keeps the zoom the user chose; new histories are fitted.
  connect(outputList_, &QListWidget::itemChanged, this, [this] { plotChecked(true); });
  connect(plot_, &DataPlot::cursorMoved, readout_, &QLabel::setText);
  connect(plot_, &DataPlot::frameChosen, this, &GraphWin::frameChosen);
}

void GraphWin::fillOutputList(const QStringList& checked) {
  const QSignalBlocker quiet(outputList_);
  outputList_->clear();
  for (int c = 0; c < orv::channelCount(g_model, g_hist); ++c) {
    const QString name = QString::fromStdString(orv::channelName(g_model, g_hist, c));
    auto* item = new QListWidgetItem(name, outputList_);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setCheckState(checked.contains(name) ? Qt::Checked : Qt::Unchecked);
  }
}

void GraphWin::plotChecked(bool keepZoom) {
  std::vector<int> channels;
  for (int i = 0; i < outputList_->count(); ++i)
    if (outputList_->item(i)->checkState() == Qt::Checked) channels.push_back(i);
  plot_->setChannels(channels, keepZoom);
}

bool GraphWin::setChannelChecked(const QString& name, bool checked) {
  const auto found = outputList_->findItems(name, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  found.front()->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
  return true;
}

void GraphWin::refresh() {
  QStringList checked;
  for (int i = 0; i < outputList_->count(); ++i)
    if (outputList_->item(i)->checkState() == Qt::Checked) checked << outputList_->item(i)->text();
  fillOutputList(checked);
  // The curves hold the old histories' values: plot anew.
  plotChecked(false);
}

bool GraphWin::exportTo(const QString& path, const QSize& size, QString* why) const {
  QString cause;
  bool ok;
  if (QFileInfo(path).suffix().toLower() == "csv") {
    std::string w;
    ok = orv::writeChannelsCsv(path.toStdString(), g_model, g_hist, plot_->channels(), &w);
    cause = QString::fromStdString(w);
  } else {
    ok = renderPlot(plot_, path, size, cause);
  }
  if (!ok && why) *why = cause;
  return ok;
}

void GraphWin::exportPlot() {
  ExportDialog dialog(plot_->size(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  const QString suffix = dialog.suffix();
  QString path = QFileDialog::getSaveFileName(this, "Export Plot", "plot." + suffix,
                                              suffix.toUpper() + " files (*." + suffix + ")");
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += "." + suffix;
  QString why;
  if (!exportTo(path, dialog.size(), &why)) QMessageBox::warning(this, "Export Plot", why);
}

void GraphWin::copyToClipboard() {
  QApplication::clipboard()->setImage(plotImage(plot_, plot_->size()));
}

#include "app/graphwin.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPen>
#include <QSignalBlocker>
#include <QToolBar>
#include <algorithm>
#include <qwt_plot_curve.h>
#include <qwt_text.h>

#include "model/globals.h"
#include "model/histories.h"

using orv::g_hist;
using orv::g_model;

DataPlot::DataPlot(QWidget* parent) : QwtPlot(parent) { setAxisTitle(QwtPlot::xBottom, "Time[s]"); }

DataPlot::~DataPlot() {
  // The curve points into time_ and value_: let it go before they do.
  delete curve_;
}

void DataPlot::fillSamples(int channel) {
  // Sized from what the histories hold now, not from the model's sample count:
  // a model or result read since the window was built must not make us read
  // past the stored arrays.
  size_t n = std::min(static_cast<size_t>(std::max(g_hist.anime_num, 0)), g_hist.p_time.size());
  const size_t stride = static_cast<size_t>(orv::channelCount(g_model, g_hist));
  if (channel >= 0) {
    // A channel the current model no longer has, or no stored values: no points.
    n = static_cast<size_t>(channel) < stride ? std::min(n, g_hist.p_output.size() / stride) : 0;
  }
  time_.assign(g_hist.p_time.begin(), g_hist.p_time.begin() + static_cast<std::ptrdiff_t>(n));
  value_.assign(n, 0.0);
  if (channel >= 0)
    for (size_t i = 0; i < n; ++i)
      value_[i] = g_hist.p_output[i * stride + static_cast<size_t>(channel)];
}

void DataPlot::setOutput(int output_id) {
  const int channel = output_id - 1;
  if (channel >= 0 && channel < orv::channelCount(g_model, g_hist))
    title_ = QString::fromStdString(orv::channelName(g_model, g_hist, channel));
  else
    title_ = "NaN";

  delete curve_;  // before its arrays are refilled
  curve_ = nullptr;
  fillSamples(channel);

  curve_ = new QwtPlotCurve(title_);
  curve_->setPen(QPen(Qt::red));
  curve_->setRawSamples(time_.data(), value_.data(), static_cast<int>(time_.size()));
  curve_->attach(this);
  replot();
}

GraphWin::GraphWin(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("Graph Window");

  plot_ = new DataPlot(this);
  plot_->setContentsMargins(5, 5, 5, 5);
  // QwtPlot's own policy makes its size hint a minimum, which would hold the
  // window above the 540 x 400 it is opened at.
  plot_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setCentralWidget(plot_);

  auto* toolBar = new QToolBar(this);
  auto* strip = new QWidget(toolBar);
  auto* layout = new QHBoxLayout(strip);
  layout->setSpacing(0);
  layout->addWidget(new QWidget(strip), 10);
  layout->addWidget(new QLabel("Output List", strip));
  layout->addSpacing(10);
  outputList_ = new QComboBox(strip);
  outputList_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  fillOutputList();
  layout->addWidget(outputList_);
  toolBar->addWidget(strip);
  addToolBar(toolBar);

  connect(outputList_, QOverload<int>::of(&QComboBox::currentIndexChanged), plot_,
          &DataPlot::setOutput);
}

void GraphWin::fillOutputList() {
  outputList_->clear();
  outputList_->addItem(" ");
  for (int c = 0; c < orv::channelCount(g_model, g_hist); ++c)
    outputList_->addItem(QString::fromStdString(orv::channelName(g_model, g_hist, c)));
}

void GraphWin::refresh() {
  const QString chosen = outputList_->currentIndex() > 0 ? outputList_->currentText() : QString();
  {
    const QSignalBlocker quiet(outputList_);
    fillOutputList();
    const int again = chosen.isEmpty() ? -1 : outputList_->findText(chosen, Qt::MatchExactly);
    outputList_->setCurrentIndex(again > 0 ? again : 0);
  }
  // The curve points into arrays sized from the old histories: plot anew
  // once a channel was ever chosen (before that the plot is empty).
  if (plot_->curve() || outputList_->currentIndex() > 0)
    plot_->setOutput(outputList_->currentIndex());
}

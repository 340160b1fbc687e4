// The graph window: one output channel of the held result plotted against
// time. One window serves the whole session: after a run, a result file or a
// motion import it is refreshed, keeping its place and the chosen channel.
#pragma once

#include <QMainWindow>
#include <QString>
#include <qwt_plot.h>
#include <vector>

class QComboBox;
class QPoint;
class QPolygon;
class QwtPlotCurve;

class DataPlot : public QwtPlot {
  Q_OBJECT

 public:
  explicit DataPlot(QWidget* parent = nullptr);
  ~DataPlot() override;

  // The curve now shown (nullptr before the first channel is chosen).
  const QwtPlotCurve* curve() const { return curve_; }
  QString curveTitle() const { return title_; }
  // The points of that curve: the plot draws straight from these arrays.
  const std::vector<double>& timeSamples() const { return time_; }
  const std::vector<double>& valueSamples() const { return value_; }

 public slots:
  // 0: a flat line at 0 titled "NaN"; c > 0: output channel c - 1.
  void setOutput(int output_id);

 private:
  void fillSamples(int channel);

  std::vector<double> time_;
  std::vector<double> value_;
  QString title_;
  QwtPlotCurve* curve_ = nullptr;
};

class GraphWin : public QMainWindow {
  Q_OBJECT

 public:
  explicit GraphWin(QWidget* parent = nullptr);

  DataPlot* plot() const { return plot_; }
  // " " then the name of every output channel, as at the last refresh.
  QComboBox* outputList() const { return outputList_; }

  // Lists the channels of the histories held now and plots the chosen one
  // anew; a channel of the same name stays chosen, else none is.
  void refresh();

 public slots:
  // Plot interaction is not offered; these keep the window's slot table.
  void moved(const QPoint&) {}
  void selected(const QPolygon&) {}
  void print() {}
  void exportSVG() {}
  void enableZoomMode(bool) {}

 private:
  void fillOutputList();

  DataPlot* plot_ = nullptr;
  QComboBox* outputList_ = nullptr;
};

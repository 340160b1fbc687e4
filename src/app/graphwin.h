// The graph window: any number of output channels of the held result plotted
// against time, chosen by checking them in a list. One window serves the whole
// session: after a run, a result file or a motion import it is refreshed,
// keeping its place and the channels chosen. A vertical marker stands at the
// time of the frame the 3D view shows; dragging it chooses another frame.
#pragma once

#include <QMainWindow>
#include <QString>
#include <qwt_plot.h>
#include <vector>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QwtPlotCurve;
class QwtPlotMarker;
class QwtPlotZoomer;

class DataPlot : public QwtPlot {
  Q_OBJECT

 public:
  explicit DataPlot(QWidget* parent = nullptr);

  // The curves now shown, one per channel chosen, in the list's order.
  const std::vector<QwtPlotCurve*>& curves() const { return curves_; }
  const std::vector<int>& channels() const { return channels_; }
  const QwtPlotMarker* marker() const { return marker_; }
  int frame() const { return frame_; }

  // Plots the channels `channels` (indices into the held result's channels) anew
  // from the histories held now; channels the result lacks are left out. The
  // axes fit the curves unless `keepZoom` and the user had zoomed or panned.
  void setChannels(const std::vector<int>& channels, bool keepZoom = false);
  // Moves the marker to the time of sample `frame` (kept inside the samples).
  void setFrame(int frame);
  // Scales both axes to the curves and makes that the zoom's base.
  void fit();
  // "t = ...  name = value ..." at the sample nearest to time t.
  QString readout(double t) const;

 signals:
  // The user dragged the marker to sample `frame`.
  void frameChosen(int frame);
  // The read-out for the cursor's place on the canvas.
  void cursorMoved(const QString& readout);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Sample nearest to time t (0 without samples).
  int sampleAt(double t) const;

  std::vector<double> time_;
  std::vector<int> channels_;
  std::vector<QwtPlotCurve*> curves_;
  QwtPlotMarker* marker_ = nullptr;
  QwtPlotZoomer* zoomer_ = nullptr;
  int frame_ = 0;
  bool dragging_ = false;
};

class GraphWin : public QMainWindow {
  Q_OBJECT

 public:
  explicit GraphWin(QWidget* parent = nullptr);

  DataPlot* plot() const { return plot_; }
  // One checkable item per output channel, as at the last refresh.
  QListWidget* outputList() const { return outputList_; }
  // The read-out of the time and values under the cursor.
  QLabel* cursorReadout() const { return readout_; }

  // Checks or unchecks the channel named `name`; false if the list lacks it.
  bool setChannelChecked(const QString& name, bool checked);

  // Lists the channels of the histories held now and plots the checked ones
  // anew; channels of the same names stay checked.
  void refresh();

  // Writes the plot as PNG, SVG or PDF (by the suffix of `path`) at `size`
  // pixels, or the checked channels as CSV (suffix .csv). False, with `why`,
  // when the file cannot be written.
  bool exportTo(const QString& path, const QSize& size, QString* why = nullptr) const;

 public slots:
  void setFrame(int frame) { plot_->setFrame(frame); }
  // The dialogs behind the tool bar's buttons.
  void exportPlot();
  void copyToClipboard();

 signals:
  void frameChosen(int frame);

 private:
  void fillOutputList(const QStringList& checked);
  void plotChecked(bool keepZoom);

  DataPlot* plot_ = nullptr;
  QListWidget* outputList_ = nullptr;
  QLabel* readout_ = nullptr;
};

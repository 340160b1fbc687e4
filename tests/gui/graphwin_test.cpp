// The graph window: channels checked and the curves they give, the marker at
// the frame shown, and the exports.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDockWidget>
#include <QImage>
#include <QListWidget>
#include <QSpinBox>
#include <qwt_legend.h>
#include <qwt_legend_label.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_marker.h>
#include <qwt_scale_div.h>
#include <qwt_text.h>

#include "app/graphwin.h"
#include "files/csv_writer.h"
#include "gui_fixture.h"

using orv::g_hist;
using orv::g_model;
using orv::g_view;

using GraphWinTest = orvtest::MainWindowTest;

namespace {

QStringList names(const QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

QStringList curveTitles(const DataPlot* p) {
  QStringList out;
  for (const QwtPlotCurve* c : p->curves()) out << c->title().text();
  return out;
}

// Every point of curve k is (time, channel c) of the histories, to the bit.
void expectCurveIs(const DataPlot* p, size_t k, size_t c) {
  const QwtPlotCurve* curve = p->curves().at(k);
  const size_t n = static_cast<size_t>(g_hist.anime_num),
               no = static_cast<size_t>(g_model.output_num());
  ASSERT_EQ(curve->dataSize(), n);
  for (size_t i = 0; i < n; ++i) {
    ASSERT_EQ(curve->sample(i).x(), g_hist.p_time[i]) << i;
    ASSERT_EQ(curve->sample(i).y(), g_hist.p_output[i * no + c]) << i;
  }
}

QPointF timeSpan(const DataPlot* p) {
  const QwtScaleDiv& d = p->axisScaleDiv(QwtPlot::xBottom);
  return {d.lowerBound(), d.upperBound()};
}

}  // namespace

TEST_F(GraphWinTest, CheckedChannelsGiveCurvesInOneWindowThatFollowsTheHistories) {
  openAndRun("pendulum.txt");
  GraphWin* g = w->graphWindow();
  EXPECT_EQ(names(g->outputList()), (QStringList{"angle", "angle_deg", "tip_x", "tip_y", "omega_z",
                                                 "pin_force", "energy"}));
  EXPECT_TRUE(g->plot()->curves().empty());

  ASSERT_TRUE(g->setChannelChecked("tip_x", true) && g->setChannelChecked("angle_deg", true));
  ASSERT_EQ(curveTitles(g->plot()), (QStringList{"angle_deg", "tip_x"}));  // in the list's order
  expectCurveIs(g->plot(), 0, 1);
  expectCurveIs(g->plot(), 1, 2);
  const auto* legend = qobject_cast<const QwtLegend*>(g->plot()->legend());
  ASSERT_TRUE(legend);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the labels replaced
  EXPECT_EQ(legend->contentsWidget()->findChildren<QwtLegendLabel*>().size(), 2);
  // A measure alone has a unit; an expression of one has none known.
  EXPECT_EQ(g->plot()->axisTitle(QwtPlot::yLeft).text(), "angle_deg, tip_x [m]");
  const QString at = g->plot()->readout(g_hist.p_time[3] + 1e-9);
  EXPECT_TRUE(at.startsWith(QString("t = %1 s").arg(g_hist.p_time[3], 0, 'g', 6)))
      << at.toStdString();

  g->setChannelChecked("angle_deg", false);
  EXPECT_EQ(curveTitles(g->plot()), QStringList{"tip_x"});
  EXPECT_FALSE(g->setChannelChecked("no_such", true));

  // One window for the session: after every run, result or import it lists the
  // channels held now, keeps those checked that are still there, and never
  // plots past the histories.
  openAndRun("double_pendulum.txt");  // nine channels, no tip_x
  ASSERT_EQ(w->graphWindow(), g);
  ASSERT_EQ(g->outputList()->count(), 9);
  EXPECT_TRUE(g->plot()->curves().empty());
  g->setChannelChecked("energy", true);
  EXPECT_EQ(g->plot()->curves().at(0)->dataSize(), static_cast<size_t>(g_hist.anime_num));

  // A window whose list predates the histories held now must not read past them.
  GraphWin stale;
  openOk("pendulum.txt");  // fewer channels, one sample and no output values
  EXPECT_EQ(names(g->outputList()), names(GraphWin().outputList()));
  EXPECT_EQ(curveTitles(g->plot()), QStringList{"energy"});
  EXPECT_EQ(g->plot()->curves().at(0)->dataSize(), 0u);
  stale.outputList()->item(8)->setCheckState(Qt::Checked);  // a channel the new model lacks
  EXPECT_TRUE(stale.plot()->curves().empty());

  // The checked channel stays so and is plotted from the new result in full.
  g->setChannelChecked("energy", false);
  g->setChannelChecked("tip_x", true);
  w->openResult("log/result_pendulum.txt");
  ASSERT_EQ(curveTitles(g->plot()), QStringList{"tip_x"});
  expectCurveIs(g->plot(), 0, 2);
  w->open_graphwindow();
  EXPECT_EQ(w->graphWindow(), g);
}

// Dragging the marker chooses the frame (that it follows the frame shown is
// checked with the playback controls); dragging elsewhere zooms, and the zoom
// outlives checking another channel but not a new result.
TEST_F(GraphWinTest, DraggingTheMarkerChoosesTheFrameAndTheZoomOutlivesAChannel) {
  openAndRun("pendulum.txt");
  GraphWin* g = w->graphWindow();
  DataPlot* p = g->plot();
  g->setChannelChecked("angle", true);
  const double h = p->canvas()->height();
  const auto x = [&](int f) {
    return p->transform(QwtPlot::xBottom, g_hist.p_time[static_cast<size_t>(f)]);
  };
  w->frameSpinBox()->setValue(100);
  orvtest::drag(p->canvas(), {x(100) + 2, h / 2}, {x(300), h / 2});
  EXPECT_NEAR(w->frameSpinBox()->value(), 300, 2);  // within a pixel's worth of samples
  EXPECT_EQ(p->frame(), g_view.i_anime);
  EXPECT_EQ(p->marker()->xValue(), g_hist.p_time[static_cast<size_t>(g_view.i_anime)]);

  const int before = w->frameSpinBox()->value();
  orvtest::drag(p->canvas(), {x(30), h / 4}, {x(60), 3 * h / 4});
  EXPECT_EQ(w->frameSpinBox()->value(), before);
  const QPointF zoomed = timeSpan(p);
  EXPECT_NEAR(zoomed.x(), g_hist.p_time[30], 0.02);
  EXPECT_NEAR(zoomed.y(), g_hist.p_time[60], 0.02);
  g->setChannelChecked("tip_x", true);
  EXPECT_EQ(timeSpan(p), zoomed);
  runAnalysis();  // new histories: all of them shown
  EXPECT_GE(timeSpan(p).y(), g_hist.p_time[static_cast<size_t>(g_hist.anime_num - 1)]);
}

// Pictures at the size asked for (and on the clipboard), and the checked
// channels as CSV to the last bit.
TEST_F(GraphWinTest, ExportsPicturesAndTheCheckedChannels) {
  openAndRun("pendulum.txt");
  GraphWin* g = w->graphWindow();
  g->setChannelChecked("tip_x", true);
  g->setChannelChecked("energy", true);
  const QSize size(640, 480);
  for (const char* file : {"p.png", "p.svg", "p.pdf"}) {
    QString why;
    ASSERT_TRUE(g->exportTo(file, size, &why)) << file << ": " << why.toStdString();
  }
  // Read back at the size asked (the PDF in points, at 96 dots per inch), legend and title in.
  EXPECT_EQ(QImage("p.png").size(), size);
  const std::string svg = orvtest::readText("p.svg");
  EXPECT_NE(svg.find("<svg viewBox=\"0 0 640 480\""), std::string::npos);
  EXPECT_NE(svg.find(">tip_x [m], energy</text>"), std::string::npos);
  EXPECT_NE(orvtest::readText("p.pdf").find("/MediaBox [0 0 480.000000 360.000000]"),
            std::string::npos);
  // The X clipboard answers through the event loop, later on a busy machine.
  g->copyToClipboard();
  orvtest::answerUntil([] { return !QApplication::clipboard()->image().isNull(); });
  EXPECT_EQ(QApplication::clipboard()->image().size(), g->plot()->size());

  // The checked channels in the list's order, as the writer the batch program shares writes them.
  ASSERT_TRUE(g->exportTo("c.csv", size));
  EXPECT_EQ(orvtest::readText("c.csv"), orv::channelsCsv(g_model, g_hist, {2, 6}));

  QString why;
  EXPECT_FALSE(g->exportTo("p.gif", size, &why));
  EXPECT_EQ(why, "p.gif: not a picture format (png, svg or pdf)");
  EXPECT_FALSE(g->exportTo("no/such/p.png", size, &why) ||
               g->exportTo("no/such/c.csv", size, &why));
}

TEST_F(GraphWinTest, DockedOrOnItsOwnByTheUsersChoice) {
  openAndRun("pendulum.txt");
  GraphWin* g = w->graphWindow();
  ASSERT_TRUE(g->isWindow() && g->isVisible());  // opened by the run
  EXPECT_EQ(g->size(), QSize(540, 400));
  g->move(130, 140);
  const QRect placed = g->geometry();
  g->setChannelChecked("angle_deg", true);

  w->setGraphDocked(true);
  EXPECT_TRUE(w->graphWindow() == g && !g->isWindow() && w->graphDock()->isVisible() &&
              g->isVisible());
  EXPECT_EQ(curveTitles(g->plot()), QStringList{"angle_deg"});

  // The choice outlives the window; back on its own, it stands where it stood.
  w = std::make_unique<MainWindow>();
  w->show();
  orvtest::waitUntilExposed(*w);
  EXPECT_TRUE(w->graphDocked());
  w->open_graphwindow();
  EXPECT_TRUE(w->graphDock()->isVisible());
  w->setGraphDocked(false);
  EXPECT_TRUE(w->graphWindow()->isWindow() && w->graphWindow()->isVisible() &&
              !w->graphDock()->isVisible());
  EXPECT_EQ(w->graphWindow()->geometry(), placed);
}

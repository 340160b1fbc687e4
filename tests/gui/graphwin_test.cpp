// The graph window: channel list and the points each choice plots.
#include <QComboBox>
#include <qwt_plot_curve.h>
#include <qwt_text.h>

#include "app/graphwin.h"
#include "gui_fixture.h"

using orv::g_hist;
using orv::g_model;
using orvtest::items;

using GraphWinTest = orvtest::MainWindowTest;

TEST_F(GraphWinTest, ListsChannelsAndPlotsTheChosenColumn) {
  openOk("pendulum.txt");
  runAnalysis();
  GraphWin* g = w->graphWindow();
  EXPECT_EQ(items(g->outputList()), (QStringList{" ", "angle", "angle_deg", "tip_x", "tip_y",
                                                 "omega_z", "pin_force", "energy"}));

  const size_t n = static_cast<size_t>(g_hist.anime_num);
  const size_t no = static_cast<size_t>(g_model.output_num());
  g->outputList()->setCurrentIndex(2);
  const QwtPlotCurve* c = g->plot()->curve();
  ASSERT_TRUE(c != nullptr && c->dataSize() == n);
  EXPECT_EQ(c->title().text(), "angle_deg");
  for (size_t i = 0; i < n; ++i) {
    ASSERT_EQ(c->sample(i).x(), g_hist.p_time[i]) << i;
    ASSERT_EQ(c->sample(i).y(), g_hist.p_output[i * no + 1]) << i;
  }

  // Item 0: a flat line at 0 over the same times, in place of the other.
  g->outputList()->setCurrentIndex(0);
  c = g->plot()->curve();
  EXPECT_TRUE(c->title().text() == "NaN" && c->sample(n - 1).x() == g_hist.p_time[n - 1]);
  ASSERT_EQ(c->dataSize(), n);
  for (size_t i = 0; i < n; ++i) ASSERT_EQ(c->sample(i).y(), 0.0) << i;
  EXPECT_EQ(g->plot()->itemList(QwtPlotItem::Rtti_PlotCurve).size(), 1);
}

TEST_F(GraphWinTest, WindowNeverReadsPastTheHistoriesHeldNow) {
  openOk("pendulum.txt");  // for its result file, read below
  runAnalysis();
  openOk("double_pendulum.txt");  // nine channels
  runAnalysis();
  GraphWin* g = w->graphWindow();
  ASSERT_EQ(g->outputList()->count(), 10);

  // A model with fewer channels and one sample comes in while it stays open.
  openOk("pendulum.txt");
  g->outputList()->setCurrentIndex(9);  // a channel the new model lacks
  EXPECT_TRUE(g->plot()->curve()->dataSize() == 0 && g->plot()->curve()->title().text() == "NaN");
  g->outputList()->setCurrentIndex(7);  // there, but no values stored
  EXPECT_EQ(g->plot()->curve()->dataSize(), 0u);
  g->outputList()->setCurrentIndex(0);  // the one initial sample
  EXPECT_EQ(g->plot()->curve()->dataSize(), 1u);

  // A longer result read later is plotted in full by the same window.
  w->openResult("log/result_pendulum.txt");
  g->outputList()->setCurrentIndex(1);
  EXPECT_EQ(g->plot()->curve()->dataSize(), static_cast<size_t>(g_hist.anime_num));
  EXPECT_EQ(g->plot()->curve()->sample(3).y(), g_hist.p_output[3 * 7 + 0]);

  // Opening it again gives a fresh window with the current list.
  w->open_graphwindow();
  EXPECT_NE(w->graphWindow(), g);
  EXPECT_EQ(w->graphWindow()->outputList()->count(), 8);
}

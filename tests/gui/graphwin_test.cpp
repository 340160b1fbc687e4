// The graph window: channel list and the points each choice plots.
#include <QComboBox>
#include <QDockWidget>
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

// One window for the session: after every run, result or import it lists the
// channels held now, keeps the chosen one where it is still there, and never
// plots past the histories.
TEST_F(GraphWinTest, OneWindowFollowsTheHistoriesAndKeepsTheChosenChannel) {
  openOk("pendulum.txt");  // for its result file, read below
  runAnalysis();
  GraphWin* g = w->graphWindow();
  g->outputList()->setCurrentIndex(3);  // tip_x
  openOk("double_pendulum.txt");        // nine channels, no tip_x
  runAnalysis();
  ASSERT_EQ(w->graphWindow(), g);
  ASSERT_EQ(g->outputList()->count(), 10);
  EXPECT_EQ(g->outputList()->currentIndex(), 0);
  g->outputList()->setCurrentIndex(9);  // energy
  EXPECT_EQ(g->plot()->curve()->dataSize(), static_cast<size_t>(g_hist.anime_num));

  // A window whose list predates the histories held now must not read past them.
  GraphWin stale;
  openOk("pendulum.txt");  // fewer channels, one sample and no output values
  EXPECT_EQ(items(g->outputList()), items(GraphWin().outputList()));
  EXPECT_EQ(g->outputList()->currentText(), "energy");
  EXPECT_EQ(g->plot()->curve()->dataSize(), 0u);
  stale.outputList()->setCurrentIndex(8);  // a channel the new model lacks
  EXPECT_TRUE(stale.plot()->curve()->dataSize() == 0 &&
              stale.plot()->curve()->title().text() == "NaN");
  stale.outputList()->setCurrentIndex(0);  // the one initial sample
  EXPECT_EQ(stale.plot()->curve()->dataSize(), 1u);

  // The chosen channel stays chosen and is plotted from the new result in full.
  g->outputList()->setCurrentIndex(3);
  w->openResult("log/result_pendulum.txt");
  EXPECT_EQ(g->outputList()->currentText(), "tip_x");
  ASSERT_EQ(g->plot()->curve()->dataSize(), static_cast<size_t>(g_hist.anime_num));
  EXPECT_EQ(g->plot()->curve()->sample(3).y(), g_hist.p_output[3 * 7 + 2]);
  w->open_graphwindow();
  EXPECT_EQ(w->graphWindow(), g);
}

TEST_F(GraphWinTest, DockedOrOnItsOwnByTheUsersChoice) {
  openOk("pendulum.txt");
  runAnalysis();
  GraphWin* g = w->graphWindow();
  ASSERT_TRUE(g->isWindow() && g->isVisible());
  g->move(130, 140);
  const QRect placed = g->geometry();
  g->outputList()->setCurrentIndex(2);

  w->setGraphDocked(true);
  EXPECT_EQ(w->graphWindow(), g);
  EXPECT_FALSE(g->isWindow());
  EXPECT_TRUE(w->graphDock()->isVisible() && g->isVisible());
  EXPECT_EQ(g->outputList()->currentIndex(), 2);

  // The choice outlives the window; back on its own, it stands where it stood.
  w = std::make_unique<MainWindow>();
  w->show();
  orvtest::waitUntilExposed(*w);
  EXPECT_TRUE(w->graphDocked());
  w->open_graphwindow();
  EXPECT_TRUE(w->graphDock()->isVisible());
  w->setGraphDocked(false);
  EXPECT_TRUE(w->graphWindow()->isWindow() && w->graphWindow()->isVisible());
  EXPECT_FALSE(w->graphDock()->isVisible());
  EXPECT_EQ(w->graphWindow()->geometry(), placed);
}

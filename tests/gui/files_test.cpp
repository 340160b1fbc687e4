// Files and messages: refusals of the readers listed in the messages panel
// with their place, the status line after each reading, Reload (F5), the
// model's name in the title, the local-coordinate lists, and Recent Files.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>
#include <QComboBox>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>
#include <sstream>
#include <thread>

#include "app/messages_panel.h"
#include "app/recent_files.h"
#include "gui_fixture.h"
#include "model/histories.h"

using orv::g_hist;
using orv::g_model;
using orvtest::MainWindowTest;
using orvtest::readText;
using orvtest::writeText;

namespace {

// `text` with line `n` (1-based) replaced by `line`.
std::string withLine(const std::string& text, int n, const std::string& line) {
  std::istringstream in(text);
  std::string out, l;
  for (int i = 1; std::getline(in, l); ++i) out += (i == n ? line : l) + "\n";
  return out;
}

QString statusLine(MainWindow& w) { return w.statusBar()->currentMessage(); }
}  // namespace

using FilesTest = MainWindowTest;

TEST_F(FilesTest, RefusedFilesAreListedWithTheirPlaceAndChangeNothing) {
  MessagesPanel* panel = w->messagesPanel();
  EXPECT_FALSE(panel->isVisible()) << "hidden until there is something to show";
  openAndRun("pendulum.txt");
  ASSERT_EQ(g_hist.anime_num, 501);
  EXPECT_TRUE(panel->count() == 0 && !panel->isVisible());

  // A result file with a word among the sample times (line 20).
  writeText("data/bad_result.txt", withLine(readText("log/result_pendulum.txt"), 20, "oops"));
  const std::vector<double> times = g_hist.p_time;
  g_hist.p_time.back() = -1;  // marks the result held
  w->openResult("data/bad_result.txt");
  EXPECT_TRUE(panel->isVisible());
  ASSERT_EQ(panel->count(), 1);
  EXPECT_TRUE(panel->lineText(0).contains("\tError\tdata/bad_result.txt:20\tResult file not read: "))
      << panel->lineText(0).toStdString();
  EXPECT_TRUE(panel->lineText(0).contains("'oops'")) << panel->lineText(0).toStdString();
  EXPECT_EQ(g_hist.p_time.back(), -1) << "the result held stays";
  EXPECT_EQ(statusLine(*w), "Result file not read; the result held is kept");
  EXPECT_TRUE(w->messages().isEmpty()) << "a refused file gets no box";
  w->openResult("log/result_pendulum.txt");
  EXPECT_EQ(statusLine(*w), "Result file read: 501 samples");
  EXPECT_EQ(g_hist.p_time.size(), times.size());
  EXPECT_EQ(g_hist.p_time.back(), times.back());

  // A motion whose node row holds a word: the import is refused at its line.
  openOk("double_pendulum.txt");
  std::filesystem::copy("motion", "data/motion");
  writeText("data/motion/double_pendulum.mov",
            withLine(readText("motion/double_pendulum.mov"), 5, "2 oops 0 0 0 0 0 0 0 0 0 0 0"));
  w->openMotion("data/motion/double_pendulum.mov");
  ASSERT_EQ(panel->count(), 2);
  EXPECT_TRUE(
      panel->lineText(1).contains("\tError\tdata/motion/double_pendulum.mov:5\tMotion not imported: "))
      << panel->lineText(1).toStdString();
  EXPECT_EQ(g_hist.anime_num, 1);
  EXPECT_EQ(statusLine(*w), "Motion not imported; the result held is kept");
  w->openMotion("motion/double_pendulum.mov");
  EXPECT_EQ(statusLine(*w), "Motion imported: 501 frames");

  // A message from another thread (a run's) arrives through the event loop.
  std::thread([] { orv::report(orv::Severity::Warning, "from a run", "m.txt", 7); }).join();
  ASSERT_TRUE(orvtest::answerUntil([&] { return panel->count() == 3; }));
  EXPECT_TRUE(panel->lineText(2).endsWith("\tWarning\tm.txt:7\tfrom a run"));

  // Whole lines are copied, the selected ones; Clear empties the list.
  panel->list()->topLevelItem(2)->setSelected(true);
  panel->list()->topLevelItem(0)->setSelected(true);
  panel->copySelection();
  EXPECT_EQ(QApplication::clipboard()->text(),
            panel->lineText(0) + "\n" + panel->lineText(2) + "\n");
  panel->clear();
  EXPECT_EQ(panel->count(), 0);
}

TEST_F(FilesTest, ReloadKeepsTheModelUnlessTheWholeFileIsGood) {
  EXPECT_EQ(w->windowTitle(), "orvaldyn");
  openOk("pendulum.txt");
  EXPECT_TRUE(w->windowTitle().startsWith("pendulum.txt"));
  EXPECT_FALSE(w->isWindowModified());
  runAnalysis();
  EXPECT_FALSE(w->isWindowModified());

  // The file changes on disk: the results are older than it.
  const std::string good = readText("pendulum.txt");
  QFile file("pendulum.txt");
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(10),
                               QFileDevice::FileModificationTime));
  file.close();
  EXPECT_TRUE(orvtest::answerUntil([&] { return w->isWindowModified(); }));

  // F5 on a file broken since: refused in its box and in the panel, the model,
  // its results, the title, the lists and the picture of the frame shown stay.
  writeText("pendulum.txt", withLine(good, 23, "  on  pin  revolutoin  pivot_g  pivot_l"));
  const std::vector<double> states = g_hist.p_YYY;
  const QString title = w->windowTitle();
  // The lists name the local coordinates and steer the centre and the camera.
  const QStringList lcs = {"ground_cg", "pivot_g", "pivot_l", "link_cg", "tip", "rod_axis"};
  ASSERT_EQ(orvtest::items(w->centerCombo()), lcs);
  EXPECT_EQ(orvtest::items(w->cameraCombo()), QStringList{"NaN"} + lcs);
  w->centerCombo()->setCurrentIndex(3);  // link_cg at (L/2, 0, 0)
  EXPECT_DOUBLE_EQ(orv::g_view.center[0], 0.5);
  w->cameraCombo()->setCurrentIndex(5);  // tip
  EXPECT_EQ(orv::g_view.cameraLC_id, 4);
  w->frameSpinBox()->setValue(40);
  // Drawn off screen at one size: the messages panel, opening, narrows the view.
  const QImage shown = w->glWidget()->renderImage(QSize(160, 120));
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get(), 60000));
  QTest::keyClick(w.get(), Qt::Key_F5);
  ASSERT_EQ(w->messages().size(), 1);
  EXPECT_EQ(w->messages()[0].title, "Input File Error");
  EXPECT_TRUE(w->messages()[0].text.contains("pendulum.txt:23:12: "))
      << w->messages()[0].text.toStdString();
  ASSERT_EQ(w->messagesPanel()->count(), 1);
  EXPECT_TRUE(w->messagesPanel()->lineText(0).contains("\tpendulum.txt:23\t"))
      << w->messagesPanel()->lineText(0).toStdString();
  EXPECT_TRUE(g_model.joint_num() == 2 && g_model.joints[1].type == "revolution");
  EXPECT_EQ(g_hist.p_YYY, states);
  EXPECT_EQ(w->windowTitle(), title);
  EXPECT_EQ(orvtest::items(w->centerCombo()), lcs);
  EXPECT_TRUE(orv::g_view.i_anime == 40 && orv::g_view.cameraLC_id == 4);
  EXPECT_EQ(w->glWidget()->renderImage(QSize(160, 120)), shown);
  EXPECT_EQ(statusLine(*w), "Model pendulum.txt not read; the model held is kept");

  // Mended: read again; the results fit and stay, still older than the file
  // until the next run.
  writeText("pendulum.txt", good);
  QTest::keyClick(w.get(), Qt::Key_F5);
  EXPECT_EQ(w->messages().size(), 1);
  EXPECT_EQ(statusLine(*w), "Model pendulum.txt read: 2 bodies, 6 local coordinates, 2 joints");
  EXPECT_EQ(g_hist.p_YYY, states);
  EXPECT_TRUE(w->isWindowModified());
  runAnalysis();
  EXPECT_FALSE(w->isWindowModified());
}

TEST_F(FilesTest, RecentFilesAndMenuMnemonics) {
  RecentFiles* recent = w->recentFiles();
  std::filesystem::copy("pendulum.txt", "data/gone.txt");
  for (const char* model : {"data/gone.txt", "double_pendulum.txt", "pendulum.txt"}) openOk(model);
  const QString dir = QDir::currentPath() + "/";
  EXPECT_EQ(recent->files(),
            (QStringList{dir + "pendulum.txt", dir + "double_pendulum.txt", dir + "data/gone.txt"}));

  // A file no longer there is greyed, and removed on request.
  std::filesystem::remove("data/gone.txt");
  emit recent->menu()->aboutToShow();
  const QList<QAction*> entries = recent->menu()->actions();
  ASSERT_GE(entries.size(), 3);
  EXPECT_TRUE(entries[0]->isEnabled() && entries[1]->isEnabled());
  EXPECT_FALSE(entries[2]->isEnabled());
  recent->removeMissing();
  EXPECT_EQ(recent->files().size(), 2);

  // Chosen from the menu, a file is opened and comes first; at most 8 are kept.
  emit recent->menu()->aboutToShow();
  recent->menu()->actions()[1]->trigger();
  EXPECT_EQ(g_model.body_num(), 3);
  EXPECT_EQ(QDir::currentPath() + "/", dir) << "the folder that holds setting/ stays";
  EXPECT_EQ(recent->files()[0], dir + "double_pendulum.txt");
  for (int i = 0; i < 10; ++i) recent->add(QString("m%1.txt").arg(i));
  EXPECT_EQ(recent->files().size(), RecentFiles::kMax);
  EXPECT_EQ(recent->files()[0], dir + "m9.txt");

  // Every menu's entries have mnemonics of their own.
  for (QAction* top : w->menuBar()->actions()) {
    QSet<QChar> keys;
    for (QAction* a : top->menu()->actions()) {
      const int at = a->text().indexOf('&');
      if (a->isSeparator() || at < 0) continue;
      const QChar key = a->text().at(at + 1).toLower();
      EXPECT_FALSE(keys.contains(key)) << a->text().toStdString();
      keys.insert(key);
    }
  }
}

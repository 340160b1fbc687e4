// The view's camera, the playback bar and the picture export, on the examples.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

#include "app/graphwin.h"
#include "app/picture_export.h"
#include "app/playback_bar.h"
#include "gui_fixture.h"
#include "model/histories.h"
#include "test_util.h"
#include "view/glwidget.h"

using orv::g_hist;
using orv::g_view;
using orvtest::MainWindowTest;

namespace {

// The box of the pixels that differ from the background, outside the time
// label in the top-left corner.
QRect drawnBox(const QImage& image) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);  // against glClearColor 0.9, that is 230
      if ((x >= 160 || y >= 40) &&
          std::abs(qRed(c) - 230) + std::abs(qGreen(c) - 230) + std::abs(qBlue(c) - 230) > 12)
        box |= QRect(x, y, 1, 1);
    }
  return box;
}

}  // namespace

// Each example, read after the view was turned, panned and zoomed for the
// one before, is seen whole: inside the view, its box a third of the view or more.
TEST_F(MainWindowTest, EveryModelIsFittedIntoTheView) {
  orvtest::ConsoleCapture quiet;
  w->gridAction()->trigger();  // the grid and the triad are no part of the model
  w->triadAction()->trigger();
  ASSERT_FALSE(g_view.show_grid || g_view.show_triad);
  const QStringList models = QDir(".").entryList({"*.txt"}, QDir::Files, QDir::Name);
  ASSERT_GE(models.size(), 10);
  for (const QString& model : models) {
    w->openModel(model);
    ASSERT_TRUE(w->messages().isEmpty()) << model.toStdString();
    const QImage image = viewImage();
    const QRect box = drawnBox(image);
    const QRect inner = image.rect().adjusted(1, 1, -1, -1);
    EXPECT_TRUE(inner.contains(box)) << model.toStdString() << ": drawn " << box.x() << ","
                                     << box.y() << " " << box.width() << "x" << box.height();
    const double wide = double(box.width()) / image.width(),
                 high = double(box.height()) / image.height();
    EXPECT_GE(wide * high, 1.0 / 3.0) << model.toStdString() << " " << wide << " x " << high;
    // What the user does next must not carry over to the next model.
    QWheelEvent wheel(QPointF(20, 20), w->glWidget()->mapToGlobal(QPoint(20, 20)), QPoint(),
                      QPoint(0, -480), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(w->glWidget(), &wheel);
    orvtest::drag(w->glWidget(), QPoint(50, 50), QPoint(150, 90));
  }
}

TEST_F(MainWindowTest, WheelZoomsTowardsTheCursorAndFitBringsTheModelBack) {
  QApplication::setActiveWindow(w.get());  // for the keys of its menus
  openOk("pendulum.txt");
  const QImage fitted = viewImage();
  const QPoint at(w->glWidget()->width() / 4, w->glWidget()->height() / 4);
  QWheelEvent wheel(at, w->glWidget()->mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(w->glWidget(), &wheel);
  EXPECT_GT(g_view.pan[2], 0.0) << "nearer";
  // The picture grows about the upper left: what was at the centre moves right and down.
  EXPECT_TRUE(g_view.pan[0] > 0.0 && g_view.pan[1] < 0.0);
  EXPECT_NE(viewImage(), fitted);
  QTest::keyClick(w.get(), Qt::Key_F);
  EXPECT_EQ(viewImage(), fitted);
  QTest::keyClick(w.get(), Qt::Key_Z);  // from +z: the default's rotation is gone
  EXPECT_NE(viewImage(), fitted);
  QTest::keyClick(w.get(), Qt::Key_Home);
  EXPECT_EQ(viewImage(), fitted);
  QTest::keyClick(w.get(), Qt::Key_T);  // left drags pan from now on
  QTest::keyClick(w.get(), Qt::Key_X);  // a view key leaves the choice alone
  EXPECT_TRUE(g_view.translate_mode && !g_view.rotate_mode);
  QTest::keyClick(w.get(), Qt::Key_R);
  EXPECT_TRUE(g_view.rotate_mode && !g_view.translate_mode);
}

// The frame box, the timeline, the graph window's marker and the frame drawn
// agree through play, pause, steps and a drag of the timeline.
TEST_F(MainWindowTest, PlaybackControlsShowTheFrameDrawn) {
  QApplication::setActiveWindow(w.get());  // for the keys of its menus
  openAndRun("pendulum.txt");
  PlaybackBar* bar = w->playbackBar();
  ASSERT_EQ(g_hist.anime_num, 501);
  EXPECT_TRUE(bar->timeline()->maximum() == 500 && w->frameSpinBox()->maximum() == 500);

  auto agree = [&](const char* when) {
    EXPECT_EQ(w->frameSpinBox()->value(), g_view.i_anime) << when;
    EXPECT_EQ(bar->timeline()->value(), g_view.i_anime) << when;
    EXPECT_EQ(w->graphWindow()->plot()->frame(), g_view.i_anime) << when;
  };
  bar->timeline()->setValue(0);
  agree("timeline");
  // Real time: the simulated time shown keeps up with the wall clock, whatever
  // the timer interval and the sample spacing.
  QElapsedTimer clock;
  QTest::keyClick(w.get(), Qt::Key_Space);
  clock.start();
  EXPECT_TRUE(w->glWidget()->playing());
  QTest::qWait(2000);
  const double wall = clock.elapsed() / 1000.0;
  QTest::keyClick(w.get(), Qt::Key_Space);
  EXPECT_FALSE(w->glWidget()->playing());
  const int paused = g_view.i_anime;
  EXPECT_NEAR(g_hist.p_time[paused], wall, 0.1 * wall);
  agree("paused");
  for (Qt::Key key : {Qt::Key_Right, Qt::Key_Right, Qt::Key_Left}) QTest::keyClick(w.get(), key);
  EXPECT_EQ(g_view.i_anime, paused + 1);
  agree("stepped");
  const QImage drawn = viewImage();
  w->frameSpinBox()->setValue(7);
  agree("frame box");
  EXPECT_NE(viewImage(), drawn) << "the pendulum did not move";
  w->frameSpinBox()->setValue(paused + 1);
  EXPECT_EQ(viewImage(), drawn);
  // Every frame, looping: past the end it starts again instead of stopping.
  bar->speedBox()->setCurrentIndex(bar->speedBox()->count() - 1);
  bar->loopBox()->setChecked(true);
  w->frameSpinBox()->setValue(498);
  bar->playButton()->click();
  QTest::qWait(400);
  EXPECT_TRUE(w->glWidget()->playing());
  bar->playButton()->click();
  EXPECT_LT(g_view.i_anime, 100);
  agree("looped");
}

TEST_F(MainWindowTest, PicturesAndAnimationsAreSavedAtTheAskedSize) {
  openAndRun("pendulum.txt");
  ASSERT_TRUE(orv::savePicture(*w->glWidget(), "view.png", QSize(321, 203)));
  const QImage picture("view.png");
  EXPECT_EQ(picture.size(), QSize(321, 203));
  EXPECT_FALSE(drawnBox(picture).isEmpty());
  // The window's own grab is kept off screen until saved or cleared.
  w->grabFrameBuffer();
  EXPECT_EQ(w->pixmapLabel()->pixmap(Qt::ReturnByValue).size(), w->glWidget()->size());
  EXPECT_FALSE(w->pixmapLabel()->isVisible());
  ASSERT_TRUE(w->savePixmap("grabbed.png"));
  EXPECT_EQ(QImage("grabbed.png").size(), w->glWidget()->size());
  w->clearPixmap();
  EXPECT_FALSE(w->savePixmap("nothing.png"));

  w->frameSpinBox()->setValue(33);
  // Frames 100 to 109, and a movie where ffmpeg is on the PATH.
  orv::AnimationExport what{"movie", 100, 109, 1, QSize(160, 120), 25.0, true};
  int calls = 0;
  orv::AnimationResult r = orv::saveAnimation(*w->glWidget(), what, [&](int done, int total) {
    EXPECT_EQ(total, 10);
    return ++calls == done;
  });
  EXPECT_TRUE(r.pictures == 10 && !r.cancelled && r.error.isEmpty()) << r.error.toStdString();
  EXPECT_EQ(r.movie.isEmpty(), orv::findFfmpeg().isEmpty());
  EXPECT_TRUE(r.movie.isEmpty() || QFileInfo(r.movie).size() > 0);
  const QStringList files = QDir("movie").entryList({"*.png"}, QDir::Files, QDir::Name);
  ASSERT_EQ(files.size(), 10);
  EXPECT_TRUE(files.first() == "frame_00001.png" && files.last() == "frame_00010.png");
  EXPECT_EQ(QImage("movie/frame_00010.png").size(), QSize(160, 120));
  EXPECT_EQ(g_view.i_anime, 33) << "the view is back on its frame";
  // Cancel after three pictures.
  what.folder = "cancelled";
  r = orv::saveAnimation(*w->glWidget(), what, [](int done, int) { return done < 3; });
  EXPECT_TRUE(r.pictures == 3 && r.cancelled);
}

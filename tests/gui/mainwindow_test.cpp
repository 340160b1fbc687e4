// The main window on the examples: result and motion files, and the models
// that are refused or stopped in a box.
#include <QComboBox>
#include <QListWidget>
#include <QSpinBox>
#include <qwt_plot_curve.h>

#include "app/graphwin.h"
#include "gui_fixture.h"
#include "model/histories.h"
#include "files/result_file.h"
#include "test_util.h"

using orv::g_hist;
using orv::g_model;
using orv::g_view;
using orvtest::ConsoleCapture;
using orvtest::MainWindowTest;

TEST_F(MainWindowTest, ResultAndMotionFilesReplaceFramesOnly) {
  openAndRun("pendulum.txt");  // writes the result file read below
  orv::resetToInitialState(g_hist, g_model);
  w->centerCombo()->setCurrentIndex(2);
  w->openResult("log/result_pendulum.txt");
  EXPECT_EQ(g_hist.anime_num, g_model.sample_num);
  EXPECT_EQ(w->centerCombo()->currentIndex(), 2) << "the lists stay";
  EXPECT_TRUE(w->messages().isEmpty());

  // A path the readers cannot hold is refused before anything is read.
  w->openResult(QString(300, 'r'));
  EXPECT_EQ(g_hist.anime_num, g_model.sample_num);

  // Back to one sample: the frame shown must follow.
  w->frameSpinBox()->setValue(300);
  openOk("double_pendulum.txt");
  EXPECT_EQ(g_view.i_anime, 0);

  ConsoleCapture console;
  w->openMotion("motion/double_pendulum.mov");
  const std::string line = "filename=motion/double_pendulum.mov\n";
  EXPECT_EQ(console.text().find(line + line), 0u) << "the path is printed twice first";
  ASSERT_EQ(g_hist.anime_num, 501);  // 0 .. 10 s by 0.02 s
  ASSERT_TRUE(w->graphWindow()->setChannelChecked("ground_dx", true));
  EXPECT_EQ(w->graphWindow()->plot()->curves().at(0)->dataSize(), 501u);

  // Written as a result (as orvaldyn-batch --import-mov does), the import opens again
  // after its model was opened anew, its channels in the graph window, the model's kept.
  const std::string imported = orv::importFilePath(g_model);
  ASSERT_TRUE(orv::writeResultFileAt(imported, g_model, g_hist));
  openOk("pendulum.txt");
  openOk("double_pendulum.txt");
  ASSERT_EQ(g_hist.anime_num, 1);
  w->openResult(QString::fromStdString(imported));
  EXPECT_EQ(g_hist.anime_num, 501);
  EXPECT_EQ(g_model.output_num(), 9);
  w->open_graphwindow();
  EXPECT_EQ(w->graphWindow()->outputList()->count(), 96);
  EXPECT_EQ(w->graphWindow()->outputList()->item(0)->text(), "ground_dx");
}

// A sample of the models that once ran to a wrong "success": each is told in its box, by
// the reader, by the check before the run or by the run itself. Redundant rows are told
// once and the run goes on. A file that cannot be opened is told on the console only and
// keeps the model held.
TEST_F(MainWindowTest, WrongModelsAreRefusedOrStoppedInABox) {
  runAnalysis();  // no model yet
  ASSERT_EQ(w->messages().size(), 1);
  EXPECT_TRUE(w->messages()[0].title == "Analysis Error" &&
              w->messages()[0].text == "No model for analysis");
  EXPECT_FALSE(w->graphWindow()->isVisible()) << "a refused run changes nothing";
  const struct {
    const char* file;
    const char* title;  // "" when the model must run to its end without a box
    const char* says;
    bool completes;
  } cases[] = {
      {"data/wrong-success/unknown_joint_type.txt", "Input File Error",
       "unknown joint type 'revolutoin'", false},
      {"data/wrong-success/contact_sphere_shape.txt", "Analysis Error", "not an STL mesh", false},
      {"data/wrong-success/contact_blows_up.txt", "Analysis Stopped", "The energy grew in contact",
       false},
      {"data/wrong-success/free_fall_from_origin.txt", "", "", true},
      {"no_such_model.txt", "", "", true},
      {"four_bar.txt", "Redundant Constraints", "Redundant constraints: 3 rows dropped", true}};
  for (const auto& c : cases) {
    const int before = w->messages().size();
    w->openModel(c.file);
    if (w->messages().size() == before) runAnalysis();
    EXPECT_EQ(w->messages().size(), before + (c.title[0] ? 1 : 0)) << c.file;
    if (c.title[0]) {
      EXPECT_EQ(w->messages().last().title, c.title) << c.file;
      EXPECT_TRUE(w->messages().last().text.contains(c.says))
          << w->messages().last().text.toStdString();
    }
    EXPECT_TRUE(!c.completes || g_hist.anime_num == g_model.sample_num) << c.file;
  }
}

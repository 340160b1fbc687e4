#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <new>

#include "app/graphwin.h"
#include "app/pixmap_size.h"
#include "model/globals.h"
#include "model/histories.h"
#include "files/model_reader.h"
#include "files/motion_import.h"
#include "platform/console.h"
#include "files/result_file.h"
#include "session/run.h"
#include "view/glwidget.h"
#include "view/view_state.h"

using orv::cprintf;

namespace {

// Paths are kept to what the file formats and the readers accept.
constexpr int kPathMax = 255;

const char* const kFileCaption = "Open file";

// The message when memory ran out; the readers leave what was held as it
// was, so only a run needs more (see analysisEnded).
QString outOfMemory(const QString& what) { return "Not enough memory to " + what; }

}  // namespace

MainWindow::MainWindow() {
  centralWidget_ = new QWidget;
  setCentralWidget(centralWidget_);

  // The view comes first: its constructor reads the settings everything else uses.
  glWidget_ = new GLWidget;
  pixmapLabel_ = new QLabel;

  glWidgetArea_ = new QScrollArea;
  glWidgetArea_->setWidget(glWidget_);
  glWidgetArea_->setWidgetResizable(true);
  glWidgetArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  glWidgetArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  glWidgetArea_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  glWidgetArea_->setMinimumSize(50, 50);

  pixmapLabelArea_ = std::make_unique<QScrollArea>();
  pixmapLabelArea_->setWidget(pixmapLabel_);
  pixmapLabelArea_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  pixmapLabelArea_->setMinimumSize(50, 50);

  animeSpin_ = new QSpinBox;
  animeSpin_->setRange(0, 9999);
  animeSpin_->setValue(0);
  animeSpin_->setFixedWidth(50);
  connect(animeSpin_, QOverload<int>::of(&QSpinBox::valueChanged), this,
          &MainWindow::i_anime_Changed);

  stepSpin_ = new QSpinBox;
  stepSpin_->setRange(1, 9999);
  stepSpin_->setValue(1);
  stepSpin_->setFixedWidth(50);
  connect(stepSpin_, QOverload<int>::of(&QSpinBox::valueChanged), this,
          &MainWindow::add_anime_Changed);

  ctrCombo_ = new QComboBox;
  ctrCombo_->addItem(" ");
  ctrCombo_->setFixedWidth(100);
  connect(ctrCombo_, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          &MainWindow::ctrLC_id_Changed);

  cameraCombo_ = new QComboBox;
  cameraCombo_->addItem(" ");
  cameraCombo_->setFixedWidth(150);
  connect(cameraCombo_, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          &MainWindow::cameraLC_id_Changed);

  controlStrip_ = new QWidget;
  controlStrip_->setFixedHeight(40);
  auto* strip = new QHBoxLayout(controlStrip_);
  strip->addWidget(new QLabel("Anime Frame:"));
  strip->addWidget(animeSpin_);
  strip->addWidget(new QLabel("+:"));
  strip->addWidget(stepSpin_);
  strip->addWidget(new QWidget, 10);
  strip->addWidget(new QLabel("Center LC:"));
  strip->addWidget(ctrCombo_);
  strip->addWidget(new QLabel(" Camera LC:"));
  strip->addWidget(cameraCombo_);

  createActions();
  createMenus();
  createRunControls();

  auto* grid = new QGridLayout(centralWidget_);
  grid->addWidget(controlStrip_, 0, 0);
  grid->addWidget(glWidgetArea_, 1, 0);

  setWindowTitle("orvaldyn");
  resize(800, 600);

  graphWin_ = new GraphWin(nullptr);
}

MainWindow::~MainWindow() {
  // Before the view it may be showing a preview in goes; a run still going
  // is stopped and waited for.
  delete runControl_;
  delete graphWin_;
}

void MainWindow::createActions() {
  graphWindowAct_ = new QAction("&Open Graph Window", this);
  graphWindowAct_->setStatusTip("Open Graph Window");
  connect(graphWindowAct_, &QAction::triggered, this, &MainWindow::open_graphwindow);

  animationAct_ = new QAction("&Start Animation", this);
  animationAct_->setStatusTip("Start Animation");
  connect(animationAct_, &QAction::triggered, this, &MainWindow::start_animation);

  analysisAct_ = new QAction("&Execute Analysis", this);
  analysisAct_->setStatusTip("Execute Analysis");
  connect(analysisAct_, &QAction::triggered, this, &MainWindow::exec_analysis);

  openModelAct_ = new QAction("&Open Model File", this);
  openModelAct_->setStatusTip("Open Model File");
  connect(openModelAct_, &QAction::triggered, this, &MainWindow::showInputFileDialog);

  openResultAct_ = new QAction("&Open Result File", this);
  openResultAct_->setStatusTip("Open Result File");
  connect(openResultAct_, &QAction::triggered, this, &MainWindow::showResFileDialog);

  openMovAct_ = new QAction("&Open Mov File", this);
  openMovAct_->setStatusTip("Open Mov File");
  connect(openMovAct_, &QAction::triggered, this, &MainWindow::showMovFileDialog);

  // The picture actions, Stop Rotate and the about boxes are wired up but put
  // in no menu, so neither an entry nor their shortcut reaches them.
  renderIntoPixmapAct_ = new QAction("&Render into Pixmap...", this);
  renderIntoPixmapAct_->setShortcut(QKeySequence("Ctrl+R"));
  connect(renderIntoPixmapAct_, &QAction::triggered, this, &MainWindow::renderIntoPixmap);

  grabFrameBufferAct_ = new QAction("&Grab Frame Buffer", this);
  grabFrameBufferAct_->setShortcut(QKeySequence("Ctrl+G"));
  connect(grabFrameBufferAct_, &QAction::triggered, this, &MainWindow::grabFrameBuffer);

  clearPixmapAct_ = new QAction("&Clear Pixmap", this);
  clearPixmapAct_->setShortcut(QKeySequence("Ctrl+L"));
  connect(clearPixmapAct_, &QAction::triggered, this, &MainWindow::clearPixmap);

  stopRotateAct_ = new QAction("&Stop Rotate", this);
  stopRotateAct_->setShortcut(QKeySequence("Ctrl+S"));
  connect(stopRotateAct_, &QAction::triggered, this, &MainWindow::stopRotate);

  exitAct_ = new QAction("E&xit", this);
  exitAct_->setShortcuts(QKeySequence::Quit);
  connect(exitAct_, &QAction::triggered, this, &QWidget::close);

  aboutAct_ = new QAction("&About", this);
  connect(aboutAct_, &QAction::triggered, this, &MainWindow::about);

  aboutQtAct_ = new QAction("About &Qt", this);
  connect(aboutQtAct_, &QAction::triggered, qApp, &QApplication::aboutQt);
}

void MainWindow::createMenus() {
  fileMenu_ = menuBar()->addMenu("&File");
  fileMenu_->addAction(openModelAct_);
  fileMenu_->addAction(openResultAct_);
  fileMenu_->addAction(openMovAct_);
  fileMenu_->addAction(exitAct_);

  analysisMenu_ = menuBar()->addMenu("&Analysis");
  analysisMenu_->addAction(analysisAct_);

  resultMenu_ = menuBar()->addMenu("&Result");
  resultMenu_->addAction(animationAct_);
  resultMenu_->addAction(graphWindowAct_);
}

void MainWindow::showMessage(const QString& title, const QString& text, bool aboutBox) {
  if (recordMessages_) {
    messages_.append({title, text});
    return;
  }
  if (aboutBox) {
    QMessageBox::about(this, title, text);
    return;
  }
  // Modal and without parent, so it stands apart from the window it reports on.
  QMessageBox box;
  box.setWindowTitle(title);
  box.setText(text);
  box.exec();
}

void MainWindow::addMessage(const orv::Message&) {}

// ---- pictures ----

void MainWindow::renderIntoPixmap() {
  const QSize viewSize = glWidget_->size();
  bool accepted = false;
  const QString text =
      QInputDialog::getText(this, "Glimmet", "Enter pixmap size:", QLineEdit::Normal,
                            QString("%1 x %2").arg(viewSize.width()).arg(viewSize.height()),
                            &accepted);
  const QSize size = orv::pixmapSizeFromText(accepted, text, viewSize);
  if (size.width() >= 0 && size.height() >= 0)
    setPixmap(glWidget_->renderPixmap(size.width(), size.height(), false));
}

void MainWindow::grabFrameBuffer() {
  setPixmap(QPixmap::fromImage(glWidget_->grabFrameBuffer(false)));
}

void MainWindow::clearPixmap() { setPixmap(QPixmap()); }

void MainWindow::setPixmap(const QPixmap& pixmap) {
  pixmapLabel_->setPixmap(pixmap);
  QSize size = pixmap.size();
  // One pixel wider than the area would bring up a scroll bar for that pixel alone.
  if (size - QSize(1, 0) == pixmapLabelArea_->maximumViewportSize()) size -= QSize(1, 0);
  pixmapLabel_->resize(size);
}

QPixmap MainWindow::grabWithView() {
  glWidget_->updateGL();
  const QImage view = glWidget_->grabFrameBuffer(false);
  QPixmap shot = grab();
  QPainter painter(&shot);
  painter.drawImage(glWidget_->mapTo(this, QPoint(0, 0)), view);
  return shot;
}

void MainWindow::about() {
  showMessage("About Glimmet",
              "The <b>Glimmet</b> example demonstrates two approaches for rendering OpenGL into a "
              "Qt pixmap.",
              true);
}

// ---- files ----

void MainWindow::showInputFileDialog() {
  const QString path = QFileDialog::getOpenFileName(this, kFileCaption, QDir::currentPath(),
                                                    "Text Files (*.txt);;All Files (*)");
  if (path.isEmpty()) return;
  openModel(path);
}

void MainWindow::openModel(const QString& path) {
  std::string message;
  // Prints the path and refuses one too long for the model's path field.
  orv::ReadStatus st = orv::ReadStatus::OpenError;
  try {
    st = orv::openModelFile(path.toLocal8Bit().toStdString(), message);
    if (st == orv::ReadStatus::InputError)
      showMessage("Input File Error", QString::fromLocal8Bit(message.c_str()));
  } catch (const std::bad_alloc&) {
    showMessage("Out of Memory", outOfMemory("read the model file " + path));
  }
  // A file that could not be read or was refused changes nothing: the model
  // loaded before, its results and the view stay as they were.
  if (st != orv::ReadStatus::Ok) return;
  refillLocalCoordinateLists();
  glWidget_->updateTextures();
  historiesReplaced();
}

void MainWindow::refillLocalCoordinateLists() {
  ctrCombo_->clear();
  for (const orv::LocalCoordinate& lc : orv::g_model.frames)
    ctrCombo_->addItem(QString::fromStdString(lc.name));
  cameraCombo_->clear();
  cameraCombo_->addItem("NaN");  // index 0: the free camera
  for (const orv::LocalCoordinate& lc : orv::g_model.frames)
    cameraCombo_->addItem(QString::fromStdString(lc.name));
}

void MainWindow::showResFileDialog() {
  const QString path = QFileDialog::getOpenFileName(this, kFileCaption, QDir::currentPath(),
                                                    "Text Files (*.txt);;All Files (*)");
  if (path.isEmpty()) return;
  openResult(path);
}

void MainWindow::openResult(const QString& path) {
  const std::string p = path.toLocal8Bit().toStdString();
  cprintf("filename=%s\n", p.c_str());
  if (p.size() > static_cast<size_t>(kPathMax)) {
    cprintf("  Result file path is longer than %d characters\n", kPathMax);
    return;
  }
  resultPath_ = p;
  // The reader refuses a file it has no memory for; this catches the rest.
  try {
    if (orv::readResultFile(resultPath_, orv::g_model, orv::g_hist)) historiesReplaced();
  } catch (const std::bad_alloc&) {
    showMessage("Out of Memory", outOfMemory("read the result file " + path));
  }
}

void MainWindow::showMovFileDialog() {
  const QString path = QFileDialog::getOpenFileName(this, kFileCaption, QDir::currentPath(),
                                                    "Text Files (*.mov);;All Files (*)");
  if (path.isEmpty()) return;
  openMotion(path);
}

void MainWindow::openMotion(const QString& path) {
  const std::string p = path.toLocal8Bit().toStdString();
  cprintf("filename=%s\n", p.c_str());
  cprintf("filename=%s\n", p.c_str());
  if (p.size() > static_cast<size_t>(kPathMax)) {
    cprintf("  Motion file path is longer than %d characters\n", kPathMax);
    return;
  }
  movPath_ = p;
  try {
    if (orv::importMotion(movPath_, orv::g_model, orv::g_hist)) historiesReplaced();
  } catch (const std::bad_alloc&) {
    showMessage("Out of Memory", outOfMemory("import the motion file " + path));
  }
}

void MainWindow::historiesReplaced() {
  // The new histories may hold fewer frames than the one shown.
  glWidget_->setFrame(orv::g_view.i_anime);
}

// ---- analysis and graph window ----

// The run itself is in RunControl; what follows it is in analysisEnded().
void MainWindow::exec_analysis() { runControl_->start(); }

void MainWindow::stop_analysis() { runControl_->requestStop(); }

void MainWindow::createRunControls() {
  runControl_ = new RunControl(statusBar(), glWidget_, this);
  connect(runControl_, &RunControl::runningChanged, this, &MainWindow::setRunning);
  connect(runControl_, &RunControl::message, this, &MainWindow::addMessage);
  connect(runControl_, &RunControl::ended, this, &MainWindow::analysisEnded);

  stopAct_ = new QAction("S&top Analysis", this);
  stopAct_->setShortcut(QKeySequence(Qt::Key_Escape));
  stopAct_->setStatusTip("Stop the analysis at the end of the current step, keeping the samples so far");
  stopAct_->setEnabled(false);
  connect(stopAct_, &QAction::triggered, this, &MainWindow::stop_analysis);

  followAct_ = new QAction("&Follow the Run", this);
  followAct_->setStatusTip("Show the latest computed sample while the analysis runs");
  followAct_->setCheckable(true);
  followAct_->setChecked(runControl_->following());
  connect(followAct_, &QAction::toggled, runControl_, &RunControl::setFollowing);

  analysisMenu_->addAction(stopAct_);
  analysisMenu_->addAction(followAct_);
  QToolBar* bar = addToolBar("Analysis");
  bar->setObjectName("analysisToolBar");
  bar->addAction(analysisAct_);
  bar->addAction(stopAct_);
  bar->addAction(followAct_);

  fpsLabel_ = new QLabel;
  fpsLabel_->hide();
  statusBar()->addPermanentWidget(fpsLabel_);
  connect(glWidget_, &GLWidget::framesPerSecond, this, [this](double fps) {
    fpsLabel_->setText(QString("%1 frames/s").arg(fps, 0, 'f', 1));
    fpsLabel_->setVisible(fps > 0.0);
  });
}

void MainWindow::setRunning(bool running) {
  // The run reads the model and the settings and replaces the histories at
  // its end: nothing may change them meanwhile. Quitting stops the run.
  for (QAction* a : fileMenu_->actions())
    if (a != exitAct_) a->setEnabled(!running);
  analysisAct_->setEnabled(!running);
  animationAct_->setEnabled(!running);
  stopAct_->setEnabled(running);
  if (running) orv::g_view.animating = false;
}

void MainWindow::analysisEnded(const RunControl::Outcome& o) {
  if (o.closing) return;
  const QString message = QString::fromStdString(o.message);
  switch (o.status) {
    case orv::AnalysisStatus::Failed:
      // Half-filled histories were dropped for the model's initial state.
      if (message == outOfMemory("run the analysis"))
        showMessage("Out of Memory", message);
      else
        showMessage("Analysis Error", message);
      break;
    case orv::AnalysisStatus::Refused: showMessage("Analysis Error", message); return;
    case orv::AnalysisStatus::Stopped:  // why and when; the samples so far are kept
      showMessage("Analysis Stopped", message);
      break;
    case orv::AnalysisStatus::Completed:  // rows left out as redundant: said once, the run went on
      if (!message.isEmpty()) showMessage("Redundant Constraints", message);
      break;
    case orv::AnalysisStatus::Interrupted: break;  // asked for: the status line says when
  }
  // A followed run leaves the view on the sample it showed last (the spin
  // box may not reach that far).
  if (runControl_->following()) {
    animeSpin_->setValue(orv::g_hist.anime_num - 1);
    glWidget_->setFrame(orv::g_hist.anime_num - 1);
  }
  historiesReplaced();
  newGraphWindow();
}

void MainWindow::open_graphwindow() { newGraphWindow(); }

void MainWindow::newGraphWindow() {
  // Never refilled: a fresh window lists the channels and samples held now.
  if (graphWin_) graphWin_->close();
  delete graphWin_;
  graphWin_ = new GraphWin(nullptr);
  graphWin_->resize(540, 400);
  graphWin_->show();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The run ends first, its result file written whole.
  runControl_->stopAndWait();
  // The graph window is top-level; it must not keep the program alive alone.
  if (graphWin_) graphWin_->close();
  QMainWindow::closeEvent(event);
}

// ---- view controls ----

void MainWindow::start_animation() { glWidget_->startAnimation(); }
void MainWindow::i_anime_Changed(int value) { glWidget_->setFrame(value); }
void MainWindow::add_anime_Changed(int value) { glWidget_->setFrameStep(value); }
void MainWindow::ctrLC_id_Changed(int id) { glWidget_->setCenterLC(id); }
void MainWindow::cameraLC_id_Changed(int id) { glWidget_->setCameraLC(id); }

void MainWindow::keyPressEvent(QKeyEvent* event) {
  cprintf("keyPressEvent:\n");
  if (event->key() == Qt::Key_T) {
    glWidget_->translateMode();
    cprintf("   t\n");
  } else if (event->key() == Qt::Key_R) {
    glWidget_->rotateMode();
    cprintf("   r\n");
  }
}

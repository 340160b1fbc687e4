#include "app/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDir>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFormLayout>
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
#include <QProgressDialog>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <new>

#include "app/graphwin.h"
#include "app/messages_panel.h"
#include "app/recent_files.h"
#include "app/picture_export.h"
#include "app/pixmap_size.h"
#include "app/playback_bar.h"
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

// "1 body", "2 bodies": for the status lines.
QString counted(int n, const char* one, const char* many) {
  return QString("%1 %2").arg(n).arg(n == 1 ? one : many);
}

QString fileName(const std::string& path) {
  return QFileInfo(QString::fromLocal8Bit(path.c_str())).fileName();
}

}  // namespace

MainWindow::MainWindow() {
  centralWidget_ = new QWidget;
  setCentralWidget(centralWidget_);

  // Before the view: its constructor reads the settings, whose warnings
  // belong in the panel too.
  messagesPanel_ = new MessagesPanel(this);
  messagesPanel_->installSink();
  addDockWidget(Qt::BottomDockWidgetArea, messagesPanel_);
  messagesPanel_->hide();

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
  animeSpin_->setRange(0, 0);  // the frames held (historiesReplaced)
  animeSpin_->setValue(0);
  animeSpin_->setFixedWidth(70);
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
  createViewControls();

  auto* grid = new QGridLayout(centralWidget_);
  grid->addWidget(controlStrip_, 0, 0);
  grid->addWidget(glWidgetArea_, 1, 0);
  grid->addWidget(playbackBar_, 2, 0);
  grid->setRowStretch(1, 1);  // the view takes what the strip and the bar leave

  resize(800, 600);
  setUpGraphWindow();
  updateTitle();
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

  openModelAct_ = new QAction("&Open Model File...", this);
  openModelAct_->setShortcut(QKeySequence("Ctrl+O"));
  openModelAct_->setStatusTip("Open Model File");
  connect(openModelAct_, &QAction::triggered, this, &MainWindow::showInputFileDialog);

  reloadAct_ = new QAction("Re&load Model", this);
  reloadAct_->setShortcut(QKeySequence(Qt::Key_F5));
  reloadAct_->setStatusTip("Read the current model file again");
  reloadAct_->setEnabled(false);  // until a model is read
  connect(reloadAct_, &QAction::triggered, this, &MainWindow::reloadModel);

  openResultAct_ = new QAction("Open R&esult File...", this);
  openResultAct_->setStatusTip("Open Result File");
  connect(openResultAct_, &QAction::triggered, this, &MainWindow::showResFileDialog);

  openMovAct_ = new QAction("Open &Mov File...", this);
  openMovAct_->setStatusTip("Open Mov File");
  connect(openMovAct_, &QAction::triggered, this, &MainWindow::showMovFileDialog);

  graphDockAct_ = new QAction("&Dock Graph Window", this);
  graphDockAct_->setCheckable(true);
  graphDockAct_->setStatusTip("Show the graph window in this window rather than on its own");
  connect(graphDockAct_, &QAction::triggered, this, &MainWindow::setGraphDocked);

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

  // What the two above captured, saved to a file.
  savePixmapAct_ = new QAction("S&ave Pixmap...", this);
  connect(savePixmapAct_, &QAction::triggered, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, "Save Pixmap", QDir::currentPath(),
                                                      "PNG (*.png);;JPEG (*.jpg *.jpeg)");
    if (!path.isEmpty() && !savePixmap(path)) showMessage("Save Pixmap", "Cannot write " + path);
  });

  stopRotateAct_ = new QAction("&Stop Rotate", this);
  stopRotateAct_->setShortcut(QKeySequence("Ctrl+S"));
  connect(stopRotateAct_, &QAction::triggered, this, &MainWindow::stopRotate);

  exitAct_ = new QAction("&Quit", this);
  exitAct_->setShortcut(QKeySequence("Ctrl+Q"));
  connect(exitAct_, &QAction::triggered, this, &QWidget::close);

  aboutAct_ = new QAction("&About", this);
  connect(aboutAct_, &QAction::triggered, this, &MainWindow::about);

  aboutQtAct_ = new QAction("About &Qt", this);
  connect(aboutQtAct_, &QAction::triggered, qApp, &QApplication::aboutQt);
}

void MainWindow::createMenus() {
  createFileMenu();

  analysisMenu_ = menuBar()->addMenu("&Analysis");
  analysisMenu_->addAction(analysisAct_);

  resultMenu_ = menuBar()->addMenu("&Result");
  resultMenu_->addAction(animationAct_);
  resultMenu_->addAction(graphWindowAct_);
  resultMenu_->addAction(graphDockAct_);
  QAction* messagesAct = messagesPanel_->toggleViewAction();
  messagesAct->setText("Show &Messages");
  resultMenu_->addAction(messagesAct);
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

void MainWindow::addMessage(const orv::Message& message) { messagesPanel_->add(message); }

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

bool MainWindow::savePixmap(const QString& path) {
  const QPixmap pixmap = pixmapLabel_->pixmap(Qt::ReturnByValue);
  return !pixmap.isNull() && pixmap.save(path);
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
  // The reader lists its refusals in the messages panel itself.
  orv::ReadStatus st = orv::ReadStatus::OpenError;
  try {
    st = orv::openModelFile(path.toLocal8Bit().toStdString(), message);
    if (st == orv::ReadStatus::InputError)
      showMessage("Input File Error", QString::fromLocal8Bit(message.c_str()));
  } catch (const std::bad_alloc&) {
    addMessage({orv::Severity::Error, outOfMemory("read the model file").toStdString(),
                path.toLocal8Bit().toStdString(), 0});
    showMessage("Out of Memory", outOfMemory("read the model file " + path));
  }
  // A file that could not be read or was refused changes nothing: the model
  // loaded before, its results and the view stay as they were.
  if (st != orv::ReadStatus::Ok) {
    statusBar()->showMessage("Model " + QFileInfo(path).fileName() +
                             " not read; the model held is kept");
    return;
  }
  refillLocalCoordinateLists();
  glWidget_->updateTextures();
  // Results that fit the model are kept, and with them their age.
  const QDateTime results = resultsTime_;
  modelFileTime_ = QFileInfo(path).lastModified();
  historiesReplaced();
  // A new model is seen whole, whatever the last one's camera was.
  glWidget_->resetView();
  if (orv::g_hist.analysis_finished) resultsTime_ = results;
  recentFiles_->add(path);
  reloadAct_->setEnabled(true);
  watchModelFile();
  updateTitle();
  const orv::Model& m = orv::g_model;
  statusBar()->showMessage(QString("Model %1 read: %2, %3, %4")
                               .arg(fileName(m.path), counted(m.body_num(), "body", "bodies"),
                                    counted(m.frame_num(), "local coordinate", "local coordinates"),
                                    counted(m.joint_num(), "joint", "joints")));
}

void MainWindow::reloadModel() {
  if (orv::g_model.path.empty()) return;
  openModel(QString::fromLocal8Bit(orv::g_model.path.c_str()));
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
    addMessage({orv::Severity::Error,
                "Result file path is longer than " + std::to_string(kPathMax) + " characters", "",
                0});
    statusBar()->showMessage("Result file not read");
    return;
  }
  resultPath_ = p;
  // The reader refuses a file it has no memory for; this catches the rest.
  // It lists its refusals in the messages panel itself.
  bool read = false;
  try {
    read = orv::readResultFile(resultPath_, orv::g_model, orv::g_hist);
  } catch (const std::bad_alloc&) {
    addMessage({orv::Severity::Error, outOfMemory("read the result file").toStdString(), p, 0});
    showMessage("Out of Memory", outOfMemory("read the result file " + path));
  }
  if (!read) {
    statusBar()->showMessage("Result file not read; the result held is kept");
    return;
  }
  historiesReplaced();
  resultsTime_ = QFileInfo(path).lastModified();  // what the file holds is as old as the file
  updateTitle();
  statusBar()->showMessage("Result file read: " +
                           counted(orv::g_hist.anime_num, "sample", "samples"));
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
    addMessage({orv::Severity::Error,
                "Motion file path is longer than " + std::to_string(kPathMax) + " characters", "",
                0});
    statusBar()->showMessage("Motion not imported");
    return;
  }
  movPath_ = p;
  bool imported = false;
  try {
    imported = orv::importMotion(movPath_, orv::g_model, orv::g_hist);
  } catch (const std::bad_alloc&) {
    addMessage({orv::Severity::Error, outOfMemory("import the motion file").toStdString(), p, 0});
    showMessage("Out of Memory", outOfMemory("import the motion file " + path));
  }
  if (!imported) {
    statusBar()->showMessage("Motion not imported; the result held is kept");
    return;
  }
  historiesReplaced();
  statusBar()->showMessage("Motion imported: " + counted(orv::g_hist.anime_num, "frame", "frames"));
}

void MainWindow::historiesReplaced() {
  // The new histories may hold fewer frames than the one shown.
  glWidget_->setFrame(orv::g_view.i_anime);
  showHeldFrames();
  glWidget_->updateGround();
  // Computed (or imported) for the model as read from its file.
  resultsTime_ = orv::g_hist.analysis_finished ? modelFileTime_ : QDateTime();
  updateTitle();
  graphWin_->refresh();
  graphWin_->setFrame(orv::g_view.i_anime);
}

void MainWindow::showHeldFrames() {
  const QSignalBlocker block(animeSpin_);
  animeSpin_->setRange(0, std::max(0, orv::g_hist.anime_num - 1));
  animeSpin_->setValue(orv::g_view.i_anime);
  playbackBar_->setFrameCount(orv::g_hist.anime_num);
}

void MainWindow::showRunSample(int sample, double time) {
  const QSignalBlocker block(animeSpin_);
  animeSpin_->setRange(0, sample);
  animeSpin_->setValue(sample);
  playbackBar_->showRunSample(sample, time);
}

void MainWindow::frameControlsFollowRun() {
  const bool running = runControl_->running(), following = running && runControl_->following();
  playbackBar_->setRunning(running, following);
  animeSpin_->setEnabled(!following);
  for (QAction* a : {stepBackAct_, stepForwardAct_}) a->setEnabled(!following);
  if (!following) showHeldFrames();
}

// ---- analysis and graph window ----

// The run itself is in RunControl; what follows it is in analysisEnded().
void MainWindow::exec_analysis() { runControl_->start(); }

void MainWindow::stop_analysis() { runControl_->requestStop(); }

void MainWindow::createRunControls() {
  runControl_ = new RunControl(statusBar(), glWidget_, this);
  connect(runControl_, &RunControl::runningChanged, this, &MainWindow::setRunning);
  connect(runControl_, &RunControl::sampleFollowed, this, &MainWindow::showRunSample);
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
  connect(followAct_, &QAction::toggled, this, &MainWindow::frameControlsFollowRun);

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
  // No clock may move the view meanwhile.
  playAct_->setEnabled(!running);
  frameControlsFollowRun();
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
  // A followed run leaves the view on the sample it showed last.
  if (runControl_->following()) orv::g_view.i_anime = orv::g_hist.anime_num - 1;
  historiesReplaced();
  showGraphWindow();
}

void MainWindow::open_graphwindow() { showGraphWindow(); }

void MainWindow::closeEvent(QCloseEvent* event) {
  // The run ends first, its result file written whole.
  runControl_->stopAndWait();
  // A graph window of its own must not keep the program alive alone; where
  // it stood is kept for the next start.
  if (!graphDocked()) {
    QSettings().setValue("graphWindow/geometry", graphWin_->saveGeometry());
    graphWin_->close();
  }
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

// ---- files and messages ----

void MainWindow::createFileMenu() {
  fileMenu_ = menuBar()->addMenu("&File");
  fileMenu_->addAction(openModelAct_);
  recentMenu_ = fileMenu_->addMenu("Open &Recent");
  recentFiles_ = new RecentFiles(recentMenu_, this);
  connect(recentFiles_, &RecentFiles::openRequested, this, &MainWindow::openModel);
  fileMenu_->addAction(reloadAct_);
  fileMenu_->addSeparator();
  fileMenu_->addAction(openResultAct_);
  fileMenu_->addAction(openMovAct_);
  fileMenu_->addSeparator();
  savePictureAct_ = fileMenu_->addAction("Save &Picture...", this, &MainWindow::savePictureDialog);
  savePictureAct_->setStatusTip("Save the view as a PNG or JPEG picture");
  saveAnimationAct_ =
      fileMenu_->addAction("Save &Animation...", this, &MainWindow::saveAnimationDialog);
  saveAnimationAct_->setStatusTip("Save a range of frames as numbered PNG pictures (and an MP4)");
  fileMenu_->addSeparator();
  fileMenu_->addAction(exitAct_);
}

void MainWindow::updateTitle() {
  if (orv::g_model.path.empty()) {
    setWindowTitle("orvaldyn");
    setWindowModified(false);
    return;
  }
  setWindowTitle(fileName(orv::g_model.path) + "[*] - orvaldyn");
  const QFileInfo file(QString::fromLocal8Bit(orv::g_model.path.c_str()));
  setWindowModified(resultsTime_.isValid() && file.exists() && file.lastModified() > resultsTime_);
}

void MainWindow::watchModelFile() {
  if (!modelWatcher_) {
    modelWatcher_ = new QFileSystemWatcher(this);
    // Editors that save by replacing the file end the watch on it: the
    // folder tells when it is there again.
    auto changed = [this] {
      watchModelFile();
      updateTitle();
    };
    connect(modelWatcher_, &QFileSystemWatcher::fileChanged, this, changed);
    connect(modelWatcher_, &QFileSystemWatcher::directoryChanged, this, changed);
  }
  const QFileInfo file(QString::fromLocal8Bit(orv::g_model.path.c_str()));
  const QString path = file.absoluteFilePath(), dir = file.absolutePath();
  for (const QString& old : modelWatcher_->files())
    if (old != path) modelWatcher_->removePath(old);
  for (const QString& old : modelWatcher_->directories())
    if (old != dir) modelWatcher_->removePath(old);
  if (file.exists() && !modelWatcher_->files().contains(path)) modelWatcher_->addPath(path);
  if (!modelWatcher_->directories().contains(dir)) modelWatcher_->addPath(dir);
}

void MainWindow::setUpGraphWindow() {
  graphWin_ = new GraphWin(nullptr);
  graphWin_->resize(540, 400);
  graphWin_->restoreGeometry(QSettings().value("graphWindow/geometry").toByteArray());
  graphDock_ = new QDockWidget("Graph Window", this);
  graphDock_->setObjectName("graphDock");
  // Docked or on its own is chosen in the menu, not by dragging it out.
  graphDock_->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  addDockWidget(Qt::RightDockWidgetArea, graphDock_);
  graphDock_->hide();
  setGraphDocked(QSettings().value("graphWindow/docked", false).toBool());
  // The plot's marker stands at the frame the view shows, whatever moved it (the
  // frame box, playback, a followed run's end); dragging the marker chooses the
  // frame, unless the frame box is a followed run's.
  connect(glWidget_, &GLWidget::frameShown, graphWin_, &GraphWin::setFrame);
  connect(graphWin_, &GraphWin::frameChosen, this, [this](int frame) {
    if (animeSpin_->isEnabled()) animeSpin_->setValue(frame);
  });
}

bool MainWindow::graphDocked() const { return graphWin_->parentWidget() != nullptr; }

void MainWindow::setGraphDocked(bool docked) {
  QSettings().setValue("graphWindow/docked", docked);
  graphDockAct_->setChecked(docked);
  if (docked == graphDocked()) return;
  const bool shown = graphWin_->isVisible();
  if (docked) {
    QSettings().setValue("graphWindow/geometry", graphWin_->saveGeometry());
    graphDock_->setWidget(graphWin_);
    graphWin_->show();
    graphDock_->setVisible(shown);
  } else {
    const bool dockShown = graphDock_->isVisible();
    graphDock_->setWidget(nullptr);
    graphDock_->hide();
    graphWin_->setParent(nullptr);
    graphWin_->resize(540, 400);
    graphWin_->restoreGeometry(QSettings().value("graphWindow/geometry").toByteArray());
    graphWin_->setVisible(dockShown);
  }
}

void MainWindow::showGraphWindow() {
  graphWin_->refresh();
  if (graphDocked()) {
    graphDock_->show();
    graphDock_->raise();
  } else {
    graphWin_->show();
    graphWin_->raise();
  }
}

// ---- view, playback and pictures ----

void MainWindow::createViewControls() {
  playbackBar_ = new PlaybackBar(glWidget_);
  connect(glWidget_, &GLWidget::frameShown, this, [this](int frame) {
    const QSignalBlocker block(animeSpin_);
    animeSpin_->setValue(frame);
  });

  QMenu* view = menuBar()->addMenu("&View");
  auto add = [this, view](const QString& text, const QKeySequence& key, auto slot) {
    QAction* a = view->addAction(text, this, slot);
    a->setShortcut(key);
    return a;
  };
  fitViewAct_ = add("&Fit View", QKeySequence(Qt::Key_F), [this] { glWidget_->fitView(); });
  resetViewAct_ =
      add("&Reset View", QKeySequence(Qt::Key_Home), [this] { glWidget_->resetView(); });
  struct Direction {
    const char* text;
    Qt::Key key;
    int axis, sign;
  };
  const Direction directions[] = {{"From +&X", Qt::Key_X, 0, 1}, {"From -X", Qt::Key_X, 0, -1},
                                  {"From +&Y", Qt::Key_Y, 1, 1}, {"From -Y", Qt::Key_Y, 1, -1},
                                  {"From +&Z", Qt::Key_Z, 2, 1}, {"From -Z", Qt::Key_Z, 2, -1}};
  QMenu* along = view->addMenu("&Standard Views");
  for (const Direction& d : directions) {
    QAction* a =
        along->addAction(d.text, this, [this, d] { glWidget_->viewAlong(d.axis, d.sign); });
    a->setShortcut(d.sign > 0 ? QKeySequence(d.key) : QKeySequence(Qt::SHIFT | d.key));
  }
  view->addSeparator();
  gridAct_ = view->addAction("Show &Grid", glWidget_, &GLWidget::setGridShown);
  gridAct_->setCheckable(true);
  gridAct_->setChecked(orv::g_view.show_grid);
  triadAct_ = view->addAction("Show &Axis Triad", glWidget_, &GLWidget::setTriadShown);
  triadAct_->setCheckable(true);
  triadAct_->setChecked(orv::g_view.show_triad);
  view->addSeparator();
  playAct_ = add("&Play/Pause", QKeySequence(Qt::Key_Space), [this] { glWidget_->togglePlay(); });
  stepBackAct_ =
      add("Step &Back", QKeySequence(Qt::Key_Left), [this] { glWidget_->stepFrame(-1); });
  stepForwardAct_ =
      add("Step F&orward", QKeySequence(Qt::Key_Right), [this] { glWidget_->stepFrame(1); });

  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction("&Controls", this, &MainWindow::showControls);
}

QString MainWindow::controlsText() {
  return "<table>"
         "<tr><th align=left colspan=2>Mouse in the view</th></tr>"
         "<tr><td>left drag</td><td>orbit about the view centre (after T: pan; R: orbit "
         "again)</td></tr>"
         "<tr><td>middle drag, Shift + left drag</td><td>pan</td></tr>"
         "<tr><td>wheel</td><td>zoom towards the cursor</td></tr>"
         "<tr><td>right drag</td><td>zoom (down: nearer)</td></tr>"
         "<tr><th align=left colspan=2>Keys</th></tr>"
         "<tr><td>F</td><td>fit the model into the view</td></tr>"
         "<tr><td>Home</td><td>reset the view: isometric, fitted</td></tr>"
         "<tr><td>X, Y, Z / Shift+X, Y, Z</td><td>look from +x, +y, +z / -x, -y, -z</td></tr>"
         "<tr><td>T / R</td><td>left drag pans / orbits</td></tr>"
         "<tr><td>Space</td><td>play / pause</td></tr>"
         "<tr><td>Left / Right</td><td>one frame back / forward</td></tr>"
         "<tr><td>Ctrl+O, F5, Ctrl+Q</td><td>open a model, reload it, quit</td></tr>"
         "<tr><td>Esc</td><td>stop the analysis</td></tr>"
         "<tr><td>Ctrl+C</td><td>copy the selected lines of the messages panel</td></tr>"
         "</table>";
}

void MainWindow::showControls() { showMessage("Controls", controlsText()); }

void MainWindow::savePictureDialog() {
  const QString path = QFileDialog::getSaveFileName(this, "Save Picture", QDir::currentPath(),
                                                    "PNG (*.png);;JPEG (*.jpg *.jpeg)");
  if (path.isEmpty()) return;
  const QSize viewSize = glWidget_->size();
  bool accepted = false;
  const QString text = QInputDialog::getText(
      this, "Save Picture", "Picture size (width x height):", QLineEdit::Normal,
      QString("%1 x %2").arg(viewSize.width()).arg(viewSize.height()), &accepted);
  const QSize size = orv::pixmapSizeFromText(accepted, text, viewSize);
  if (!size.isValid()) return;
  if (orv::savePicture(*glWidget_, path, size))
    statusBar()->showMessage("Picture saved: " + path);
  else
    showMessage("Save Picture", "Cannot write " + path);
}

void MainWindow::saveAnimationDialog() {
  const int last = std::max(0, orv::g_hist.anime_num - 1);
  QDialog d(this);
  d.setWindowTitle("Save Animation");
  auto* form = new QFormLayout(&d);
  auto spin = [](int lo, int hi, int value) {
    auto* s = new QSpinBox;
    s->setRange(lo, hi);
    s->setValue(value);
    return s;
  };
  QSpinBox* first = spin(0, last, 0);
  QSpinBox* to = spin(0, last, last);
  QSpinBox* step = spin(1, std::max(1, last), 1);
  QSpinBox* width = spin(16, 4096, glWidget_->width());
  QSpinBox* height = spin(16, 4096, glWidget_->height());
  auto* fps = new QDoubleSpinBox;
  fps->setRange(1, 240);
  fps->setValue(25);
  auto* movie = new QCheckBox("Also make animation.mp4 (ffmpeg)");
  const bool haveFfmpeg = !orv::findFfmpeg().isEmpty();
  movie->setChecked(haveFfmpeg);
  movie->setEnabled(haveFfmpeg);
  form->addRow("First frame:", first);
  form->addRow("Last frame:", to);
  form->addRow("Every n-th frame:", step);
  form->addRow("Width:", width);
  form->addRow("Height:", height);
  form->addRow("Frames per second:", fps);
  form->addRow(movie);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  form->addRow(buttons);
  if (d.exec() != QDialog::Accepted) return;
  const QString folder =
      QFileDialog::getExistingDirectory(this, "Folder for the pictures", QDir::currentPath());
  if (folder.isEmpty()) return;

  orv::AnimationExport what;
  what.folder = folder;
  what.first = first->value();
  what.last = to->value();
  what.step = step->value();
  what.size = QSize(width->value(), height->value());
  what.fps = fps->value();
  what.movie = movie->isChecked();
  QProgressDialog progress("Saving pictures...", "Cancel", 0, 1, this);
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  const orv::AnimationResult r = orv::saveAnimation(*glWidget_, what, [&](int done, int total) {
    progress.setMaximum(total);
    progress.setValue(done);
    QCoreApplication::processEvents();
    return !progress.wasCanceled();
  });
  progress.reset();
  if (!r.error.isEmpty()) showMessage("Save Animation", r.error);
  statusBar()->showMessage(QString("%1 pictures saved in %2%3")
                               .arg(r.pictures)
                               .arg(folder)
                               .arg(r.movie.isEmpty() ? QString() : ", and " + r.movie));
}

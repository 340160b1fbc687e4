// The main window: the 3D view with its strip of animation and camera
// controls, the menus that open model, result and motion files, the command
// that runs the analysis, the graph window and the messages panel.
#pragma once

#include <QDateTime>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <memory>
#include <string>

#include "app/run_control.h"
#include "platform/messages.h"

class GLWidget;
class GraphWin;
class MessagesPanel;
class PlaybackBar;
class RecentFiles;
class QAction;
class QComboBox;
class QDockWidget;
class QFileSystemWatcher;
class QLabel;
class QMenu;
class QPixmap;
class QScrollArea;
class QSpinBox;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow();
  ~MainWindow() override;

  // What the file dialogs do once a path is chosen.
  void openModel(const QString& path);
  void openResult(const QString& path);
  void openMotion(const QString& path);

  // Every message box goes through showMessage(). With recording on it is
  // kept in messages() instead of shown, so nothing waits for a click.
  struct Message {
    QString title;
    QString text;
  };
  void setRecordMessages(bool on) { recordMessages_ = on; }
  const QList<Message>& messages() const { return messages_; }
  void clearMessages() { messages_.clear(); }

  // Lists a message in the messages panel (GUI thread only).
  void addMessage(const orv::Message& message);

  // ---- files and messages ----
  MessagesPanel* messagesPanel() const { return messagesPanel_; }
  RecentFiles* recentFiles() const { return recentFiles_; }
  QAction* reloadAction() const { return reloadAct_; }
  // The graph window in a dock of this window, or a window of its own; the
  // choice is kept for the next start.
  void setGraphDocked(bool docked);
  bool graphDocked() const;
  QDockWidget* graphDock() const { return graphDock_; }

  // The window as it looks, with the view's current picture drawn in (a plain
  // QWidget::grab() leaves the GL area empty).
  QPixmap grabWithView();
  // Saves what Grab Frame Buffer or Render into Pixmap captured last (its
  // Save Pixmap action asks for the file); false when there is none or it
  // cannot be written.
  bool savePixmap(const QString& path);

  GLWidget* glWidget() const { return glWidget_; }
  GraphWin* graphWindow() const { return graphWin_; }
  QSpinBox* frameSpinBox() const { return animeSpin_; }
  QSpinBox* stepSpinBox() const { return stepSpin_; }
  QComboBox* centerCombo() const { return ctrCombo_; }
  QComboBox* cameraCombo() const { return cameraCombo_; }
  QLabel* pixmapLabel() const { return pixmapLabel_; }

  // The analysis in progress (exec_analysis starts it; it ends on its own).
  bool analysisRunning() const { return runControl_->running(); }
  RunControl* runControl() const { return runControl_; }
  QAction* stopAction() const { return stopAct_; }
  QAction* followAction() const { return followAct_; }
  QLabel* framesPerSecondLabel() const { return fpsLabel_; }

  // ---- view, playback and pictures ----
  PlaybackBar* playbackBar() const { return playbackBar_; }
  QAction* playAction() const { return playAct_; }
  QAction* fitViewAction() const { return fitViewAct_; }
  QAction* resetViewAction() const { return resetViewAct_; }
  QAction* gridAction() const { return gridAct_; }
  QAction* triadAction() const { return triadAct_; }
  // Every mouse and key binding of the window, as Help > Controls shows it.
  static QString controlsText();

 public slots:
  void renderIntoPixmap();
  void grabFrameBuffer();
  void clearPixmap();
  void about();
  void stopRotate() {}
  void showInputFileDialog();
  void exec_analysis();
  void open_graphwindow();
  void start_animation();
  void i_anime_Changed(int value);
  void add_anime_Changed(int value);
  void ctrLC_id_Changed(int id);
  void cameraLC_id_Changed(int id);
  void showResFileDialog();
  void showMovFileDialog();
  // F5: reads the current model file again; a refused file changes nothing.
  void reloadModel();
  void stop_analysis();
  // File > Save Picture... and Save Animation...: ask where and how, then save.
  void savePictureDialog();
  void saveAnimationDialog();
  void showControls();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void createActions();
  void createMenus();
  void refillLocalCoordinateLists();
  // The histories were replaced: keep the shown frame inside them.
  void historiesReplaced();
  // The run: what may not change while it goes, and what follows its end.
  void createRunControls();
  void setRunning(bool running);
  // The frame box, the timeline and the steps show the frames held, or,
  // while the view follows a run, its latest sample, which only the run moves.
  void frameControlsFollowRun();
  void showHeldFrames();
  void showRunSample(int sample, double time);
  void analysisEnded(const RunControl::Outcome& outcome);
  void setPixmap(const QPixmap& pixmap);
  void showMessage(const QString& title, const QString& text, bool aboutBox = false);
  // ---- files and messages ----
  void createFileMenu();
  void setUpGraphWindow();
  void showGraphWindow();
  // The model file's name in the title, marked while the results held are
  // older than that file on disk.
  void updateTitle();
  void watchModelFile();
  // ---- view, playback and pictures ----
  void createViewControls();

  QWidget* centralWidget_ = nullptr;
  GLWidget* glWidget_ = nullptr;
  QLabel* pixmapLabel_ = nullptr;
  QScrollArea* glWidgetArea_ = nullptr;
  // Holds captured pictures; deliberately in no layout, so never on screen.
  std::unique_ptr<QScrollArea> pixmapLabelArea_;
  QWidget* controlStrip_ = nullptr;
  QSpinBox* animeSpin_ = nullptr;
  QSpinBox* stepSpin_ = nullptr;
  QComboBox* ctrCombo_ = nullptr;
  QComboBox* cameraCombo_ = nullptr;

  QMenu* fileMenu_ = nullptr;
  QMenu* analysisMenu_ = nullptr;
  QMenu* resultMenu_ = nullptr;
  QAction* graphWindowAct_ = nullptr;
  QAction* animationAct_ = nullptr;
  QAction* analysisAct_ = nullptr;
  QAction* openModelAct_ = nullptr;
  QAction* openResultAct_ = nullptr;
  QAction* openMovAct_ = nullptr;
  QAction* renderIntoPixmapAct_ = nullptr;
  QAction* grabFrameBufferAct_ = nullptr;
  QAction* clearPixmapAct_ = nullptr;
  QAction* savePixmapAct_ = nullptr;
  QAction* stopRotateAct_ = nullptr;
  QAction* exitAct_ = nullptr;
  QAction* aboutAct_ = nullptr;
  QAction* aboutQtAct_ = nullptr;

  RunControl* runControl_ = nullptr;
  QAction* stopAct_ = nullptr;
  QAction* followAct_ = nullptr;
  QLabel* fpsLabel_ = nullptr;
  // ---- files and messages ----
  MessagesPanel* messagesPanel_ = nullptr;
  RecentFiles* recentFiles_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QAction* reloadAct_ = nullptr;
  QAction* graphDockAct_ = nullptr;
  QDockWidget* graphDock_ = nullptr;
  QFileSystemWatcher* modelWatcher_ = nullptr;
  // The model file's time stamp when it was read, and the one the results
  // held stand for (invalid: no results, only the initial state).
  QDateTime modelFileTime_;
  QDateTime resultsTime_;

  // ---- view, playback and pictures ----
  PlaybackBar* playbackBar_ = nullptr;
  QAction* playAct_ = nullptr;
  QAction* stepBackAct_ = nullptr;
  QAction* stepForwardAct_ = nullptr;
  QAction* fitViewAct_ = nullptr;
  QAction* resetViewAct_ = nullptr;
  QAction* gridAct_ = nullptr;
  QAction* triadAct_ = nullptr;
  QAction* savePictureAct_ = nullptr;
  QAction* saveAnimationAct_ = nullptr;

  // One for the session: in graphDock_ or a window of its own, owned here.
  GraphWin* graphWin_ = nullptr;

  std::string resultPath_;
  std::string movPath_;

  bool recordMessages_ = false;
  QList<Message> messages_;
};

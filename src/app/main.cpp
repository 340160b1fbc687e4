// orvaldyn: the desktop program. `orvaldyn [MODELFILE]` opens the main window
// and, when given, reads the model file as if it had been chosen in the dialog.
// Its settings (recent files, where the graph window stands) are kept with
// QSettings under the organisation and application name "orvaldyn".
#include <GL/freeglut.h>

#include <QApplication>
#include <clocale>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QPixmap>
#include <QSettings>
#include <QProgressBar>
#include <QSpinBox>
#include <QStringList>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdio>

#include "app/graphwin.h"
#include "app/plot_export.h"
#include "app/mainwindow.h"
#include "app/messages_panel.h"
#include "app/playback_bar.h"
#include "model/globals.h"

namespace {

void waitUntilExposed(QWidget& w) {
  while (!w.windowHandle() || !w.windowHandle()->isExposed())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  QCoreApplication::processEvents();
}

// Pictures for the documentation: open MODEL, run it, show frame FRAME and
// save the main window, its playback bar and the graph window (channels
// CHANNELS, 1-based and comma-separated) into OUTDIR, with the graph window's
// export dialog. The camera is the one reading the model fitted.
int screenshots(MainWindow& w, const QStringList& args) {
  if (args.size() < 3) {
    std::fprintf(stderr, "usage: orvaldyn --screenshot OUTDIR MODEL FRAME [CHANNELS]\n");
    return 2;
  }
  const QString outDir = args[0];
  const QString model = args[1];
  const int frame = args[2].toInt();
  const QStringList channels = args.size() > 3 ? args[3].split(',') : QStringList{"1"};
  const QString name = QFileInfo(model).completeBaseName();

  w.setRecordMessages(true);
  w.show();
  waitUntilExposed(w);
  w.openModel(model);
  if (w.messages().isEmpty()) w.exec_analysis();
  while (w.analysisRunning()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  for (const MainWindow::Message& m : w.messages())
    std::fprintf(stderr, "%s: %s\n", qPrintable(m.title), qPrintable(m.text));
  if (!w.messages().isEmpty()) return 1;

  w.frameSpinBox()->setValue(frame);
  QDir().mkpath(outDir);
  const QString mainPng = outDir + "/" + name + "_main_window.png";
  if (!w.grabWithView().save(mainPng)) return 1;
  if (!w.playbackBar()->grab().save(outDir + "/playback_bar.png")) return 1;

  GraphWin* g = w.graphWindow();
  waitUntilExposed(*g->window());
  for (const QString& c : channels)
    if (QListWidgetItem* item = g->outputList()->item(c.toInt() - 1))
      item->setCheckState(Qt::Checked);
  QCoreApplication::processEvents();
  const QString graphPng = outDir + "/" + name + "_graph_window.png";
  if (!g->grab().save(graphPng)) return 1;
  ExportDialog dialog(g->plot()->size(), g);
  dialog.show();
  waitUntilExposed(dialog);
  const QString dialogPng = outDir + "/graph_export_dialog.png";
  if (!dialog.grab().save(dialogPng)) return 1;
  std::printf("\nsaved %s\nsaved %s\nsaved %s\n", qPrintable(mainPng), qPrintable(graphPng),
              qPrintable(dialogPng));
  return 0;
}

// The picture of the messages panel: open MODEL and run it, then open
// REFUSED, which the reader refuses, and save the main window as OUTFILE.
int messagesScreenshot(MainWindow& w, const QStringList& args) {
  if (args.size() != 3) {
    std::fprintf(stderr, "usage: orvaldyn --messages-screenshot OUTFILE MODEL REFUSED\n");
    return 2;
  }
  w.setRecordMessages(true);
  w.resize(1100, 760);
  w.show();
  waitUntilExposed(w);
  w.openModel(args[1]);
  if (!w.messages().isEmpty()) return 1;
  w.exec_analysis();
  while (w.analysisRunning()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  w.graphWindow()->close();
  w.frameSpinBox()->setValue(60);
  w.openModel(args[2]);
  if (w.messages().isEmpty()) return 1;  // it was meant to be refused
  w.resizeDocks({w.messagesPanel()}, {150}, Qt::Vertical);
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  if (!w.grabWithView().save(args[0])) return 1;
  std::printf("\nsaved %s\n", qPrintable(args[0]));
  return 0;
}

// The window while a run goes: open MODEL, start it, save the main window
// once the progress bar shows FRACTION (0..1) into OUTDIR, then stop it.
int runScreenshot(MainWindow& w, const QStringList& args) {
  if (args.size() != 3) {
    std::fprintf(stderr, "usage: orvaldyn --screenshot-run OUTDIR MODEL FRACTION\n");
    return 2;
  }
  const QString outDir = args[0];
  const QString model = args[1];
  const double fraction = args[2].toDouble();

  w.setRecordMessages(true);
  w.show();
  waitUntilExposed(w);
  w.openModel(model);
  if (!w.messages().isEmpty()) return 1;
  w.exec_analysis();
  const QProgressBar* bar = w.runControl()->progressBar();
  while (w.analysisRunning() && bar->value() < fraction * bar->maximum())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  if (!w.analysisRunning()) return 1;
  QCoreApplication::processEvents();
  QDir().mkpath(outDir);
  const QString png = outDir + "/" + QFileInfo(model).completeBaseName() + "_run_in_progress.png";
  const bool saved = w.grabWithView().save(png);
  w.stop_analysis();
  while (w.analysisRunning()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  if (!saved) return 1;
  std::printf("\nsaved %s\n", qPrintable(png));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  glutInit(&argc, argv);  // the view draws its text with GLUT fonts
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName("orvaldyn");
  QCoreApplication::setApplicationName("orvaldyn");
  // Qt takes the user's locale; numbers in every file we read and write use a
  // decimal point, whatever the desktop's language.
  std::setlocale(LC_NUMERIC, "C");

  QStringList args = app.arguments();
  args.removeFirst();
  // Pictures for the documentation neither read nor change the user's settings.
  const bool pictures =
      !args.isEmpty() && (args[0] == "--screenshot" || args[0] == "--messages-screenshot" ||
                          args[0] == "--screenshot-run");
  QTemporaryDir pictureSettings;
  if (pictures)
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, pictureSettings.path());

  MainWindow w;
  if (!args.isEmpty() && args[0] == "--screenshot") return screenshots(w, args.mid(1));
  if (!args.isEmpty() && args[0] == "--messages-screenshot")
    return messagesScreenshot(w, args.mid(1));
  if (!args.isEmpty() && args[0] == "--screenshot-run") return runScreenshot(w, args.mid(1));

  w.show();
  if (!args.isEmpty()) w.openModel(args[0]);
  return app.exec();
}

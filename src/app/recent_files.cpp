#include "app/recent_files.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>

namespace {

const char* const kKey = "recentFiles";

}  // namespace

RecentFiles::RecentFiles(QMenu* menu, QObject* parent) : QObject(parent), menu_(menu) {
  // Files come and go while the program runs: looked at again each time the
  // menu opens.
  connect(menu_, &QMenu::aboutToShow, this, &RecentFiles::rebuild);
  rebuild();
}

QStringList RecentFiles::files() const {
  QStringList list = QSettings().value(kKey).toStringList();
  list.removeAll(QString());
  return list.mid(0, kMax);
}

void RecentFiles::add(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  QStringList list = files();
  list.removeAll(absolute);
  list.prepend(absolute);
  store(list.mid(0, kMax));
}

void RecentFiles::remove(const QString& path) {
  QStringList list = files();
  list.removeAll(path);
  store(list);
}

void RecentFiles::removeMissing() {
  QStringList list;
  for (const QString& f : files())
    if (QFileInfo::exists(f)) list << f;
  store(list);
}

void RecentFiles::clear() { store({}); }

void RecentFiles::store(const QStringList& list) {
  QSettings().setValue(kKey, list);
  rebuild();
}

void RecentFiles::rebuild() {
  // Not QMenu::clear(): the action being triggered may be among them.
  for (QAction* a : menu_->actions()) {
    menu_->removeAction(a);
    a->deleteLater();
  }
  const QStringList list = files();
  bool missing = false;
  for (int i = 0; i < list.size(); ++i) {
    const QString& path = list[i];
    const bool there = QFileInfo::exists(path);
    missing |= !there;
    QString name = QFileInfo(path).fileName();
    name.replace('&', "&&");
    QAction* a =
        menu_->addAction(QString("&%1 %2%3").arg(i + 1).arg(name, there ? "" : " (missing)"));
    a->setStatusTip(path);
    a->setToolTip(path);
    a->setData(path);
    a->setEnabled(there);
    connect(a, &QAction::triggered, this, [this, path] { emit openRequested(path); });
  }
  if (list.isEmpty()) menu_->addAction("No Recent Files")->setEnabled(false);
  menu_->addSeparator();
  QAction* prune = menu_->addAction("&Remove Missing Files", this, &RecentFiles::removeMissing);
  prune->setEnabled(missing);
  QAction* wipe = menu_->addAction("&Clear List", this, &RecentFiles::clear);
  wipe->setEnabled(!list.isEmpty());
}

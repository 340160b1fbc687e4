// Recent Files: the model files opened last, newest first, kept with
// QSettings so that the next start offers them too. A file no longer there
// is shown greyed and can be removed from the list.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QAction;
class QMenu;

class RecentFiles : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMax = 8;

  // Fills `menu` (owned by the caller) and keeps it current.
  explicit RecentFiles(QMenu* menu, QObject* parent = nullptr);

  // Absolute paths, newest first.
  QStringList files() const;
  // Puts `path` first (once), dropping the oldest beyond kMax.
  void add(const QString& path);
  void remove(const QString& path);
  void removeMissing();
  void clear();

  QMenu* menu() const { return menu_; }

 signals:
  void openRequested(const QString& path);

 private:
  void store(const QStringList& files);
  void rebuild();

  QMenu* menu_;
};

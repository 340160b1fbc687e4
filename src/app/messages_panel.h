// The messages panel: a dock under the view listing the errors, warnings and
// notices of reading and running, one line each with its time, severity and
// place (FILE:LINE). Hidden until it has something to show; lines can be
// selected and copied, and the list cleared.
#pragma once

#include <QDockWidget>
#include <QString>

#include "platform/messages.h"

class QAction;
class QTreeWidget;

class MessagesPanel : public QDockWidget {
  Q_OBJECT

 public:
  explicit MessagesPanel(QWidget* parent = nullptr);
  // Removes the sink installed by installSink(), unless another panel took it.
  ~MessagesPanel() override;

  // Routes orv::report() here. Messages from the GUI thread are listed at
  // once (in order with what the caller does next); those from another
  // thread (a run) are queued to the GUI thread.
  void installSink();

  void add(const orv::Message& message);

  int count() const;
  // Line i as it is copied: "TIME<TAB>SEVERITY<TAB>PLACE<TAB>TEXT".
  QString lineText(int i) const;
  QTreeWidget* list() const { return list_; }

 public slots:
  void clear();
  // The selected lines (all lines when none is selected) to the clipboard.
  void copySelection();

 private:
  QTreeWidget* list_ = nullptr;
  QAction* copyAct_ = nullptr;
  QAction* selectAllAct_ = nullptr;
  QAction* clearAct_ = nullptr;
  bool shownOnce_ = false;
};

// "FILE:LINE", "FILE", or "" when the message concerns no file.
QString messagePlace(const orv::Message& message);

#include "app/messages_panel.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QTime>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { kTime, kSeverity, kPlace, kText, kColumns };

// A model with an unknown name in every expression can say a lot; the oldest
// lines go first.
constexpr int kMaxLines = 5000;

// The panel the process-wide sink leads to (GUI thread only).
MessagesPanel* g_sinkPanel = nullptr;

QString severityName(orv::Severity s) {
  switch (s) {
    case orv::Severity::Error: return "Error";
    case orv::Severity::Warning: return "Warning";
    case orv::Severity::Notice: break;
  }
  return "Notice";
}

QStyle::StandardPixmap severityIcon(orv::Severity s) {
  switch (s) {
    case orv::Severity::Error: return QStyle::SP_MessageBoxCritical;
    case orv::Severity::Warning: return QStyle::SP_MessageBoxWarning;
    case orv::Severity::Notice: break;
  }
  return QStyle::SP_MessageBoxInformation;
}

}  // namespace

QString messagePlace(const orv::Message& message) {
  if (message.file.empty()) return QString();
  const QString file = QString::fromLocal8Bit(message.file.c_str());
  return message.line > 0 ? file + ":" + QString::number(message.line) : file;
}

MessagesPanel::MessagesPanel(QWidget* parent) : QDockWidget("Messages", parent) {
  setObjectName("messagesPanel");

  auto* body = new QWidget(this);
  list_ = new QTreeWidget(body);
  list_->setColumnCount(kColumns);
  list_->setHeaderLabels({"Time", "Severity", "Place", "Message"});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setAlternatingRowColors(true);
  list_->header()->setStretchLastSection(true);
  for (int c = kTime; c < kText; ++c)
    list_->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);

  // Ctrl+C copies whole lines, not just the cell under the cursor as the
  // view would on its own.
  copyAct_ = new QAction("&Copy", list_);
  copyAct_->setShortcut(QKeySequence::Copy);
  copyAct_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(copyAct_, &QAction::triggered, this, &MessagesPanel::copySelection);
  selectAllAct_ = new QAction("Select &All", list_);
  selectAllAct_->setShortcut(QKeySequence::SelectAll);
  selectAllAct_->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(selectAllAct_, &QAction::triggered, list_, &QTreeWidget::selectAll);
  auto* separator = new QAction(list_);
  separator->setSeparator(true);
  clearAct_ = new QAction("C&lear", list_);
  connect(clearAct_, &QAction::triggered, this, &MessagesPanel::clear);
  list_->addActions({copyAct_, selectAllAct_, separator, clearAct_});
  list_->setContextMenuPolicy(Qt::ActionsContextMenu);

  auto* clearButton = new QPushButton("Clear", body);
  clearButton->setToolTip("Remove every message from the list");
  connect(clearButton, &QPushButton::clicked, this, &MessagesPanel::clear);

  auto* buttons = new QVBoxLayout;
  buttons->addWidget(clearButton);
  buttons->addStretch(1);
  auto* layout = new QHBoxLayout(body);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  setWidget(body);
}

MessagesPanel::~MessagesPanel() {
  // A panel made later may have taken the sink over.
  if (g_sinkPanel != this) return;
  orv::setMessageSink({});
  g_sinkPanel = nullptr;
}

void MessagesPanel::installSink() {
  g_sinkPanel = this;
  QPointer<MessagesPanel> self(this);
  orv::setMessageSink([self](const orv::Message& m) {
    if (QThread::currentThread() == qApp->thread()) {
      if (self) self->add(m);
      return;
    }
    // From a run's thread: the application object outlives every window,
    // and the panel may be gone by the time the event is handled.
    QMetaObject::invokeMethod(
        qApp,
        [self, m] {
          if (self) self->add(m);
        },
        Qt::QueuedConnection);
  });
}

void MessagesPanel::add(const orv::Message& message) {
  auto* item = new QTreeWidgetItem;
  item->setText(kTime, QTime::currentTime().toString("HH:mm:ss"));
  item->setText(kSeverity, severityName(message.severity));
  item->setIcon(kSeverity, style()->standardIcon(severityIcon(message.severity)));
  item->setText(kPlace, messagePlace(message));
  const QString text = QString::fromStdString(message.text);
  item->setText(kText, text);
  item->setToolTip(kText, text);
  if (list_->topLevelItemCount() >= kMaxLines) delete list_->takeTopLevelItem(0);
  list_->addTopLevelItem(item);
  list_->scrollToItem(item);
  // The first message opens the panel; after the user closed it, only an
  // error opens it again.
  if (!shownOnce_ || message.severity == orv::Severity::Error) {
    shownOnce_ = true;
    show();
    raise();
  }
}

int MessagesPanel::count() const { return list_->topLevelItemCount(); }

QString MessagesPanel::lineText(int i) const {
  const QTreeWidgetItem* item = list_->topLevelItem(i);
  if (!item) return QString();
  QStringList cells;
  for (int c = 0; c < kColumns; ++c) cells << item->text(c);
  return cells.join('\t');
}

void MessagesPanel::clear() { list_->clear(); }

void MessagesPanel::copySelection() {
  QStringList lines;
  for (int i = 0; i < count(); ++i)
    if (list_->topLevelItem(i)->isSelected()) lines << lineText(i);
  if (lines.isEmpty())
    for (int i = 0; i < count(); ++i) lines << lineText(i);
  QApplication::clipboard()->setText(lines.join('\n') + (lines.isEmpty() ? "" : "\n"));
}

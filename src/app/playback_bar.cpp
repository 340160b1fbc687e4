#include "app/playback_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <algorithm>
#include <iterator>

#include "model/globals.h"
#include "model/histories.h"
#include "view/glwidget.h"

namespace {

struct Speed {
  const char* label;
  double value;
};
const Speed kSpeeds[] = {{"x0.1", 0.1}, {"x0.25", 0.25}, {"x0.5", 0.5}, {"Real time", 1.0},
                         {"x2", 2.0},   {"x5", 5.0},     {"x10", 10.0}, {"Every frame", 0.0}};
constexpr int kRealTime = 3;

}  // namespace

double PlaybackBar::speedAt(int index) {
  return index >= 0 && index < static_cast<int>(std::size(kSpeeds)) ? kSpeeds[index].value : 1.0;
}

PlaybackBar::PlaybackBar(GLWidget* view, QWidget* parent) : QWidget(parent), view_(view) {
  auto button = [this](QStyle::StandardPixmap icon, const QString& tip) {
    auto* b = new QToolButton;
    b->setIcon(style()->standardIcon(icon));
    b->setToolTip(tip);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);  // Space and the arrows belong to the window's actions
    return b;
  };
  back_ = button(QStyle::SP_MediaSeekBackward, "One frame back (Left)");
  play_ = button(QStyle::SP_MediaPlay, "Play (Space)");
  forward_ = button(QStyle::SP_MediaSeekForward, "One frame forward (Right)");
  slider_ = new QSlider(Qt::Horizontal);
  slider_->setRange(0, 0);
  slider_->setFocusPolicy(Qt::NoFocus);
  slider_->setToolTip("Timeline: the frame shown");
  time_ = new QLabel;
  time_->setMinimumWidth(90);
  speed_ = new QComboBox;
  for (const Speed& s : kSpeeds) speed_->addItem(s.label);
  speed_->setCurrentIndex(kRealTime);
  speed_->setFocusPolicy(Qt::NoFocus);
  speed_->setToolTip("Playback speed: simulated time against the wall clock, or every frame");
  loop_ = new QCheckBox("Loop");
  loop_->setFocusPolicy(Qt::NoFocus);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(4, 0, 4, 0);
  row->addWidget(back_);
  row->addWidget(play_);
  row->addWidget(forward_);
  row->addWidget(slider_, 1);
  row->addWidget(time_);
  row->addWidget(speed_);
  row->addWidget(loop_);

  connect(play_, &QToolButton::clicked, view_, &GLWidget::togglePlay);
  connect(back_, &QToolButton::clicked, view_, [this] { view_->stepFrame(-1); });
  connect(forward_, &QToolButton::clicked, view_, [this] { view_->stepFrame(1); });
  connect(slider_, &QSlider::valueChanged, view_, &GLWidget::setFrame);
  connect(speed_, QOverload<int>::of(&QComboBox::currentIndexChanged), view_,
          [this](int i) { view_->setSpeed(speedAt(i)); });
  connect(loop_, &QCheckBox::toggled, view_, &GLWidget::setLoop);
  connect(view_, &GLWidget::frameShown, this, &PlaybackBar::showFrame);
  connect(view_, &GLWidget::playingChanged, this, &PlaybackBar::showPlaying);
  view_->setSpeed(speedAt(kRealTime));
  showFrame(view_->frame());
}

void PlaybackBar::setFrameCount(int count) {
  {
    const QSignalBlocker block(slider_);
    slider_->setRange(0, count > 1 ? count - 1 : 0);
    slider_->setPageStep(std::max(1, count / 20));
  }
  showFrame(view_->frame());
}

void PlaybackBar::setRunning(bool running, bool following) {
  play_->setEnabled(!running);
  for (QWidget* w : {static_cast<QWidget*>(back_), static_cast<QWidget*>(forward_),
                     static_cast<QWidget*>(slider_)})
    w->setEnabled(!following);
}

void PlaybackBar::showRunSample(int sample, double time) {
  const QSignalBlocker block(slider_);
  slider_->setRange(0, sample);
  slider_->setValue(sample);
  time_->setText(QString("t = %1 s").arg(time, 0, 'g', 6));
}

void PlaybackBar::showFrame(int frame) {
  {
    const QSignalBlocker block(slider_);
    slider_->setValue(frame);
  }
  const std::vector<double>& t = orv::g_hist.p_time;
  time_->setText(frame >= 0 && static_cast<size_t>(frame) < t.size()
                     ? QString("t = %1 s").arg(t[frame], 0, 'g', 6)
                     : QString());
}

void PlaybackBar::showPlaying(bool playing) {
  play_->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
  play_->setToolTip(playing ? "Pause (Space)" : "Play (Space)");
}

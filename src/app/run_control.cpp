#include "app/run_control.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <algorithm>
#include <cmath>
#include <utility>

#include "model/globals.h"
#include "session/live_run.h"
#include "view/glwidget.h"

namespace {

// Often enough for a bar that moves smoothly; the run only takes a lock.
constexpr int kPollMs = 50;
constexpr int kBarSteps = 1000;

QString number(double v) { return QString::number(v, 'g', 4); }

// "12 s", "3 min 5 s", "1 h 2 min": precise enough for an estimate.
QString duration(double s) {
  if (!(s >= 0.0) || !std::isfinite(s)) return "?";
  if (s < 10.0) return QString::number(s, 'f', 1) + " s";
  const long long n = std::llround(s);
  if (n < 60) return QString::number(n) + " s";
  if (n < 3600) return QString("%1 min %2 s").arg(n / 60).arg(n % 60);
  return QString("%1 h %2 min").arg(n / 3600).arg(n % 3600 / 60);
}

}  // namespace

RunControl::RunControl(QStatusBar* bar, GLWidget* view, QObject* parent)
    : QObject(parent), status_(bar), view_(view), bar_(new QProgressBar), label_(new QLabel) {
  bar_->setRange(0, kBarSteps);
  bar_->setMaximumWidth(200);
  status_->addPermanentWidget(label_);
  status_->addPermanentWidget(bar_);
  bar_->hide();
  label_->hide();
  timer_.setInterval(kPollMs);
  connect(&timer_, &QTimer::timeout, this, &RunControl::poll);
}

// A run still going is stopped and joined by the LiveRun's destructor.
RunControl::~RunControl() {
  if (run_ && view_) view_->clearPreview();
}

void RunControl::setFollowing(bool on) {
  follow_ = on;
  shownSample_ = -1;
  if (!on && view_) view_->clearPreview();
  if (on && run_) poll();
}

void RunControl::start() {
  if (run_) return;
  run_ = std::make_unique<orv::LiveRun>();
  shownSample_ = -1;
  errorForwarded_ = false;
  t0_ = orv::g_model.start_time;
  bar_->setValue(0);
  label_->setText("Starting the analysis");
  bar_->show();
  label_->show();
  status_->clearMessage();
  emit runningChanged(true);
  run_->start(orv::g_model, orv::g_settings);
  timer_.start();
}

void RunControl::requestStop() {
  if (run_) run_->requestStop();
}

void RunControl::stopAndWait() {
  if (!run_) return;
  run_->requestStop();
  end(true);
}

QString RunControl::progressText(double t0, double t, double end, int samples, int total,
                                 double step, double wall) {
  QString text = QString("t = %1 / %2 s   %3 / %4 samples   step %5 s   %6 elapsed")
                     .arg(number(t), number(end))
                     .arg(samples)
                     .arg(total)
                     .arg(number(step), duration(wall));
  // The rate so far, in simulated time, is the best guess of the rate to come.
  if (t > t0 && end > t) text += ", about " + duration(wall * (end - t) / (t - t0)) + " left";
  return text;
}

void RunControl::poll() {
  if (!run_) return;
  forwardMessages();
  if (run_->ended()) {
    end(false);
    return;
  }
  const orv::LiveRun::Snapshot s = run_->snapshot();
  const orv::RunProgress& p = s.progress;
  const double span = p.end_time - t0_;
  const double done = span > 0.0 ? (p.time - t0_) / span : 0.0;
  bar_->setValue(static_cast<int>(std::lround(std::min(1.0, std::max(0.0, done)) * kBarSteps)));
  label_->setText(progressText(t0_, p.time, p.end_time, p.samples, p.sample_total, p.step,
                               s.wall_seconds));
  if (follow_ && view_ && s.sample >= 0 && s.sample != shownSample_) {
    view_->setPreview(s.time, s.state);
    shownSample_ = s.sample;
    emit sampleFollowed(s.sample, s.time);
  }
}

void RunControl::forwardMessages() {
  for (const orv::Message& m : run_->takeMessages()) {
    if (m.severity == orv::Severity::Error) errorForwarded_ = true;
    emit message(m);
  }
}

void RunControl::end(bool closing) {
  timer_.stop();
  Outcome o;
  o.closing = closing;
  orv::Histories h;
  o.status = run_->finish(o.message, h);
  o.seconds = run_->snapshot().wall_seconds;
  forwardMessages();
  // A refusal, and running out of memory, never reach the run's observer.
  const bool told = o.status != orv::AnalysisStatus::Refused &&
                    (o.status != orv::AnalysisStatus::Failed || errorForwarded_);
  if (!told && !o.message.empty()) emit message(orv::Message{orv::Severity::Error, o.message, "", 0});
  run_.reset();
  if (view_) view_->clearPreview();
  // A refused run computed nothing: what was held stays.
  if (o.status != orv::AnalysisStatus::Refused) orv::g_hist = std::move(h);
  o.samples = orv::g_hist.anime_num;

  bar_->hide();
  label_->hide();
  switch (o.status) {
    case orv::AnalysisStatus::Completed:
      status_->showMessage(QString("Analysis done: %1 samples in %2 s")
                               .arg(o.samples)
                               .arg(QString::number(o.seconds, 'f', 2)));
      break;
    case orv::AnalysisStatus::Interrupted:
      status_->showMessage(QString::fromStdString(o.message) +
                           QString("; %1 samples kept").arg(o.samples));
      break;
    case orv::AnalysisStatus::Stopped:
    case orv::AnalysisStatus::Failed:
      status_->showMessage(QString("Analysis ended early: %1 samples kept").arg(o.samples));
      break;
    case orv::AnalysisStatus::Refused: status_->showMessage("Analysis refused"); break;
  }
  emit runningChanged(false);
  emit ended(o);
}

#include "app/picture_export.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>

#include "view/glwidget.h"

namespace orv {

bool savePicture(GLWidget& view, const QString& path, const QSize& size) {
  if (size.width() < 1 || size.height() < 1) return false;
  const QImage image = view.renderImage(size);
  return !image.isNull() && image.save(path);
}

QString findFfmpeg() { return QStandardPaths::findExecutable("ffmpeg"); }

AnimationResult saveAnimation(GLWidget& view, const AnimationExport& what,
                              const std::function<bool(int, int)>& progress) {
  AnimationResult out;
  const int step = std::max(1, what.step);
  const int total = what.last >= what.first ? (what.last - what.first) / step + 1 : 0;
  if (!QDir().mkpath(what.folder)) {
    out.error = "Cannot make the folder " + what.folder;
    return out;
  }
  const QDir dir(what.folder);
  const int shown = view.frame();
  view.pause();
  for (int k = 0; k < total; ++k) {
    view.setFrame(what.first + k * step);
    const QString name = dir.filePath(QString("frame_%1.png").arg(k + 1, 5, 10, QChar('0')));
    if (!savePicture(view, name, what.size)) {
      out.error = "Cannot write " + name;
      break;
    }
    ++out.pictures;
    if (progress && !progress(k + 1, total)) {
      out.cancelled = true;
      break;
    }
  }
  view.setFrame(shown);
  if (!what.movie || out.pictures < total || out.pictures == 0) return out;
  const QString ffmpeg = findFfmpeg();
  if (ffmpeg.isEmpty()) return out;
  // yuv420p for players that read nothing else; it needs even sizes.
  const QString movie = dir.filePath("animation.mp4");
  QProcess p;
  p.start(ffmpeg, {"-y", "-loglevel", "error", "-framerate", QString::number(what.fps), "-i",
                   dir.filePath("frame_%05d.png"), "-vf", "scale=trunc(iw/2)*2:trunc(ih/2)*2",
                   "-pix_fmt", "yuv420p", movie});
  if (p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
    out.movie = movie;
  else
    out.error =
        "ffmpeg did not make the movie: " + QString::fromLocal8Bit(p.readAllStandardError());
  return out;
}

}  // namespace orv

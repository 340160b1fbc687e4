// Pictures and movies of the view, drawn off screen at any size
// (GLWidget::renderImage): one picture of the shown frame, or a numbered
// PNG sequence of a frame range, turned into an MP4 when ffmpeg is on the PATH.
#pragma once

#include <QSize>
#include <QString>
#include <functional>

class GLWidget;

namespace orv {

// Saves the shown frame at `size` as PNG or JPEG (by the file's suffix).
bool savePicture(GLWidget& view, const QString& path, const QSize& size);

struct AnimationExport {
  QString folder;  // where frame_00001.png ... go
  int first = 0;   // frames first, first + step, ... up to last
  int last = 0;
  int step = 1;
  QSize size;         // of each picture
  double fps = 25.0;  // pictures per second of the movie
  bool movie = true;  // also animation.mp4, when ffmpeg is found
};

// What an export left.
struct AnimationResult {
  int pictures = 0;  // written
  bool cancelled = false;
  QString movie;  // the MP4 written, empty when none
  QString error;  // why it stopped early, empty when it did not
};

// Writes the pictures; `progress(done, total)` is asked after each one and
// stops the export when it answers false. The view shows the frame it showed
// before once done.
AnimationResult saveAnimation(GLWidget& view, const AnimationExport& what,
                              const std::function<bool(int, int)>& progress);

// The ffmpeg on the PATH, empty when there is none.
QString findFfmpeg();

}  // namespace orv

// The size typed into "Render into Pixmap...".
#include <gtest/gtest.h>

#include "app/pixmap_size.h"

using orv::pixmapSizeFromText;

TEST(PixmapSize, ReadsWidthXHeightWithOptionalBlanks) {
  const QSize view(321, 123);
  EXPECT_EQ(pixmapSizeFromText(true, "640 x 480", view), QSize(640, 480));
  EXPECT_EQ(pixmapSizeFromText(true, "640x480", view), QSize(640, 480));
  EXPECT_EQ(pixmapSizeFromText(true, "640   x 480", view), QSize(640, 480));
  EXPECT_EQ(pixmapSizeFromText(true, "1 x 2047", view), QSize(1, 2047));
}

TEST(PixmapSize, AnythingElseGivesTheViewSize) {
  const QSize view(321, 123);
  for (const char* text : {"2048 x 100", "100 x 2048", "0 x 10", "abc", "", "640 x 480 ", " 640 x 480",
                           "640 X 480", "-5 x 10", "640 x", "99999999999999999999 x 10"})
    EXPECT_EQ(pixmapSizeFromText(true, text, view), view) << "'" << text << "'";
}

TEST(PixmapSize, CancelRendersNothing) {
  EXPECT_EQ(pixmapSizeFromText(false, "640 x 480", QSize(321, 123)), QSize(-1, -1));
}

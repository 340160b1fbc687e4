// The size typed into "Render into Pixmap...".
#include <gtest/gtest.h>

#include "app/pixmap_size.h"

using orv::pixmapSizeFromText;

TEST(PixmapSize, WidthXHeightElseTheViewSize) {
  const QSize view(321, 123);
  const std::pair<const char*, QSize> cases[] = {
      {"640 x 480", {640, 480}}, {"640x480", {640, 480}}, {"640   x 480", {640, 480}},
      {"1 x 2047", {1, 2047}},   {"2048 x 100", view},    {"100 x 2048", view},
      {"0 x 10", view},          {"abc", view},           {"", view},
      {"640 x 480 ", view},      {" 640 x 480", view},    {"640 X 480", view},
      {"-5 x 10", view},         {"640 x", view},         {"99999999999999999999 x 10", view}};
  for (const auto& [text, size] : cases)
    EXPECT_EQ(pixmapSizeFromText(true, text, view), size) << "'" << text << "'";
  EXPECT_EQ(pixmapSizeFromText(false, "640 x 480", view), QSize(-1, -1));  // cancelled
}

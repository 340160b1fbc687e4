#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>

#include "files/bmp.h"
#include "model/model.h"
#include "test_util.h"

using namespace orv;

namespace {

// A BMP header claiming w x h at `bpp`, followed by `pixelBytes` bytes (0, 1, 2, 0, 1, 2, ...).
std::string bmp(int32_t w, int32_t h, unsigned bpp, size_t pixelBytes, unsigned planes = 1) {
  std::string s = "BM" + std::string(52, '\0');
  // Little-endian fields in offset order; the data offset 1000 must be ignored.
  const std::pair<size_t, uint32_t> fields[] = {
      {10, 1000}, {18, uint32_t(w)}, {22, uint32_t(h)}, {26, planes}, {28, bpp}};
  for (const auto& [at, v] : fields)
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
  for (size_t i = 0; i < pixelBytes; ++i) s.push_back(static_cast<char>(i % 3));
  return s;
}

}  // namespace

TEST(BmpImage, RefusesUnsupportedOrBrokenFiles) {
  const std::string f = orvtest::makeTempDir() + "/bad.bmp", file = "Texture file " + f;
  // The refusal, then the place: the byte of the field at fault.
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {bmp(4, 4, 32, 64), "Bpp from " + f + " is not 24: 32\n",
       ": byte 28: 32 bits per pixel; expected 24"},
      {bmp(4, 4, 24, 48, 2), "Planes from " + f + " is not 1: 2\n",
       ": byte 26: planes 2; expected 1"},
      {bmp(4, 4, 24, 47), file + " is truncated", ": byte 101: the file ends; expected 102 bytes"},
      {bmp(4, 4, 24, 0).substr(0, 20), file + " is too short", ": byte 20: the file ends"},
      {bmp(0x7fffffff, 0x7fffffff, 24, 0), file + " is too large", ": byte 18: size 2147483647 x"},
      {bmp(8000, 8000, 24, 10), file + " is truncated",
       ": byte 64: the file ends"},  // within the limit
      {bmp(-4, 4, 24, 48), file + " has an invalid size",
       ": byte 18: size -4 x 4; expected a positive"},
      {"", "Texture file " + f + ".none cannot be opened\n", ""}};
  for (const auto& [bytes, message, place] : cases) {
    orvtest::writeFile(f, bytes);
    Image img;
    img.width = 9, img.rgb.resize(3);  // a failure leaves the image empty, not as it was
    orvtest::ConsoleCapture cap;
    EXPECT_EQ(loadBmp(bytes.empty() ? f + ".none" : f, img), 0) << message;
    EXPECT_EQ(cap.text().rfind(message, 0), 0u) << message << ": " << cap.text();
    EXPECT_NE(cap.text().find(f + place), std::string::npos) << cap.text();
    EXPECT_TRUE(img.width == 0 && img.height == 0 && img.rgb.empty());
  }
}

TEST(BmpImage, TexturesLoadAsRgbUpToThirty) {
  const std::string dir = orvtest::makeTempDir();
  orvtest::writeFile(dir + "/t.bmp", bmp(4, 2, 24, 24));
  Model m;
  m.path = dir + "/model.txt";  // the file is found beside the model
  m.textures.resize(31);
  for (int i = 0; i < 31; ++i)
    m.textures[i].name = "tex" + std::to_string(i), m.textures[i].file = "t.bmp";
  orvtest::ConsoleCapture cap;
  loadTextureImages(m);
  EXPECT_EQ(cap.text(),
            "Success allocating space for image\nTexture tex30 is not loaded: at most 30 textures\n"
            "Success Load image\nSuccess Create Texture\n");
  const Image& img = m.textures[29].image;
  ASSERT_TRUE(img.width == 4 && img.height == 2 && img.rgb.size() == 24u);
  // Stored B G R = 0 1 2 comes out R G B = 2 1 0, for the last pixel too.
  EXPECT_TRUE(img.rgb[0] == 2 && img.rgb[2] == 0 && img.rgb[21] == 2 && img.rgb[23] == 0);
  EXPECT_TRUE(m.textures[30].image.rgb.empty());
}

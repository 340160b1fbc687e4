#include <gtest/gtest.h>

#include <cstdint>

#include "model/bmp.h"
#include "model/model.h"
#include "test_util.h"

using namespace orv;

namespace {

void put(std::string& s, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

// A BMP header claiming w x h at `bpp`, followed by `pixelBytes` bytes (0, 1, 2, 0, 1, 2, ...).
std::string bmp(int32_t w, int32_t h, unsigned bpp, size_t pixelBytes, unsigned planes = 1) {
  std::string s(54, '\0');
  s[0] = 'B';
  s[1] = 'M';
  put(s, 10, 1000, 4);  // a data offset that must be ignored
  put(s, 18, static_cast<uint32_t>(w), 4);
  put(s, 22, static_cast<uint32_t>(h), 4);
  put(s, 26, planes, 2);
  put(s, 28, bpp, 2);
  for (size_t i = 0; i < pixelBytes; ++i) s.push_back(static_cast<char>(i % 3));
  return s;
}

}  // namespace

TEST(BmpImage, DecodesPackedPixelsAsRgb) {
  std::string path = orvtest::makeTempDir() + "/t.bmp";
  orvtest::writeFile(path, bmp(64, 32, 24, 64 * 32 * 3));
  Image img;
  orvtest::ConsoleCapture cap;
  ASSERT_EQ(loadBmp(path, img), 1);
  EXPECT_EQ(cap.text(), "");
  EXPECT_TRUE(img.width == 64 && img.height == 32);
  ASSERT_EQ(img.rgb.size(), 64u * 32 * 3);
  // Stored B G R = 0 1 2 comes out R G B = 2 1 0, for the last pixel too.
  const std::vector<unsigned char> rgb = {2, 1, 0};
  EXPECT_EQ(std::vector<unsigned char>(img.rgb.begin(), img.rgb.begin() + 3), rgb);
  EXPECT_EQ(std::vector<unsigned char>(img.rgb.end() - 3, img.rgb.end()), rgb);
}

TEST(BmpImage, RefusesUnsupportedOrBrokenFiles) {
  const std::string dir = orvtest::makeTempDir();
  const std::pair<std::string, std::string> cases[] = {
      {bmp(4, 4, 32, 64), "Bpp from " + dir + "/bad.bmp is not 24: 32\n"},
      {bmp(4, 4, 24, 48, 2), "Planes from " + dir + "/bad.bmp is not 1: 2\n"},
      {bmp(4, 4, 24, 47), "truncated"},
      {bmp(4, 4, 24, 0).substr(0, 20), "too short"},
      {bmp(0x7fffffff, 0x7fffffff, 24, 0), "too large"},
      {bmp(8000, 8000, 24, 10), "truncated"},  // fits the limit but not the file
      {bmp(-4, 4, 24, 48), "invalid size"},
  };
  for (const auto& cs : cases) {
    orvtest::writeFile(dir + "/bad.bmp", cs.first);
    Image img;
    img.width = 9;  // a failure leaves the image empty, not as it was
    img.rgb.resize(3);
    orvtest::ConsoleCapture cap;
    EXPECT_EQ(loadBmp(dir + "/bad.bmp", img), 0) << cs.second;
    EXPECT_NE(cap.text().find(cs.second), std::string::npos) << cs.second << ": " << cap.text();
    EXPECT_NE(cap.text().find(dir + "/bad.bmp"), std::string::npos) << cap.text();
    EXPECT_TRUE(img.width == 0 && img.height == 0 && img.rgb.empty());
  }
  Image img;
  orvtest::ConsoleCapture cap;
  EXPECT_EQ(loadBmp(dir + "/none.bmp", img), 0);
  EXPECT_EQ(cap.text(), "Texture file " + dir + "/none.bmp cannot be opened\n");
}

TEST(BmpImage, TextureLoadingStepStopsAtThirty) {
  const char* kDone = "Success Load image\nSuccess Create Texture\n";
  Model m;
  orvtest::ConsoleCapture cap;
  loadTextureImages(m);
  EXPECT_EQ(cap.text(), std::string("Success allocating space for image\n") + kDone);
  const size_t mark = cap.text().size();
  const std::string dir = orvtest::makeTempDir();
  orvtest::writeFile(dir + "/t.bmp", bmp(2, 2, 24, 12));
  m.path = dir + "/model.txt";  // the file is found beside the model
  m.textures.resize(31);
  for (int i = 0; i < 31; ++i) {
    m.textures[i].name = "tex" + std::to_string(i);
    m.textures[i].file = "t.bmp";
  }
  loadTextureImages(m);
  EXPECT_EQ(cap.text().substr(mark), std::string("Success allocating space for image\n") +
                                         "Texture tex30 is not loaded: at most 30 textures\n" + kDone);
  EXPECT_EQ(m.textures[29].image.width, 2);
  EXPECT_TRUE(m.textures[30].image.rgb.empty());
}

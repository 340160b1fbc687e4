// Uncompressed 24-bit BMP images of textures.
#pragma once

#include <string>

namespace orv {

struct Image;
struct Model;

// Decodes a 24-bit BMP into img (R G B per pixel, rows bottom-up). 1 on
// success; 0 after printing why (img is then empty).
int loadBmp(const std::string& path, Image& img);

// Decodes the image of every texture of m (at most 30; the others are refused
// with a message). File names are found as resolveModelFile does.
void loadTextureImages(Model& m);

}  // namespace orv

#include "files/bmp.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <utility>
#include <vector>

#include "model/model.h"
#include "platform/source_pos.h"
#include "platform/tokens.h"
#include "platform/console.h"
#include "platform/messages.h"

namespace orv {

namespace {

// The pixels always start here: stored texture files were written with this
// fixed header and packed rows, whatever their data-offset field says.
constexpr long long kPixelOffset = 54;
// Largest pixel block accepted, so a corrupt header cannot demand gigabytes.
constexpr long long kMaxPixelBytes = 256LL * 1024 * 1024;

struct FileCloser {
  FILE* f;
  ~FileCloser() { std::fclose(f); }
};

int32_t le32(const unsigned char* b) {
  return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                              static_cast<uint32_t>(b[2]) << 16 |
                              static_cast<uint32_t>(b[3]) << 24);
}
unsigned le16(const unsigned char* b) { return b[0] | static_cast<unsigned>(b[1]) << 8; }

// The place line that follows each refusal: a BMP is binary, so the place
// is the byte offset of the field at fault.
void place(const std::string& path, long long byte, const std::string& what) {
  cprintf("%s\n",
          placeLine(path, SourcePos{}, "byte " + std::to_string(byte) + ": " + what).c_str());
  report(Severity::Warning, "texture not loaded: byte " + std::to_string(byte) + ": " + what, path);
}

// The image size of a header of which `got` bytes were read, checked:
// width and height positive, 24 bits per pixel in one plane, at most
// kMaxPixelBytes of pixels. False after printing why.
bool readHeader(const std::string& path, const unsigned char* h, size_t got, int32_t& width,
                int32_t& height) {
  if (got < 26) {
    cprintf("Texture file %s is too short for a BMP header (%zu bytes)\n", path.c_str(), got);
    place(path, static_cast<long long>(got),
          "the file ends; expected the image size at bytes 18 to 25");
    return false;
  }
  width = le32(h + 18);
  height = le32(h + 22);
  if (got < 30) {
    cprintf("Texture file %s is too short for a BMP header (%zu bytes)\n", path.c_str(), got);
    place(path, static_cast<long long>(got),
          "the file ends; expected the planes and bits per pixel at bytes 26 to 29");
    return false;
  }
  const unsigned planes = le16(h + 26);
  if (planes != 1) {
    cprintf("Planes from %s is not 1: %u\n", path.c_str(), planes);
    place(path, 26, "planes " + std::to_string(planes) + "; expected 1");
    return false;
  }
  const unsigned bits = le16(h + 28);
  if (bits != 24) {
    cprintf("Bpp from %s is not 24: %u\n", path.c_str(), bits);
    place(path, 28, std::to_string(bits) + " bits per pixel; expected 24 (uncompressed RGB)");
    return false;
  }
  if (width <= 0 || height <= 0) {
    cprintf("Texture file %s has an invalid size %d x %d\n", path.c_str(), width, height);
    place(path, width <= 0 ? 18 : 22,
          "size " + std::to_string(width) + " x " + std::to_string(height) +
              "; expected a positive width and height");
    return false;
  }
  // Both factors are below 2^31, so the pixel count fits in 64 bits; times 3
  // it may not, hence the comparison against the limit divided by 3.
  const long long pixels = static_cast<long long>(width) * height;
  if (pixels > kMaxPixelBytes / 3) {
    cprintf("Texture file %s is too large: %d x %d (%lld pixels, at most %lld bytes)\n",
            path.c_str(), width, height, pixels, kMaxPixelBytes);
    place(path, 18,
          "size " + std::to_string(width) + " x " + std::to_string(height) + "; expected at most " +
              std::to_string(kMaxPixelBytes / 3) + " pixels");
    return false;
  }
  return true;
}

}  // namespace

int loadBmp(const std::string& path, Image& img) {
  img = Image();
  struct stat st;
  FILE* f = openInputFile(path, st);
  if (!f) {
    cprintf("Texture file %s cannot be opened\n", path.c_str());
    report(Severity::Warning, "texture not loaded: the file cannot be opened", path);
    return 0;
  }
  FileCloser closer{f};

  unsigned char h[kPixelOffset];
  const size_t got = std::fread(h, 1, sizeof h, f);
  int32_t width = 0, height = 0;
  if (!readHeader(path, h, got, width, height)) return 0;
  const long long pixels = static_cast<long long>(width) * height;
  const long long bytes = pixels * 3;
  // Check the length before allocating, so a short file claiming a big image
  // costs nothing; the read below still guards files whose size is unknown.
  const bool sized = S_ISREG(st.st_mode);
  if (got < static_cast<size_t>(kPixelOffset) ||
      (sized && static_cast<long long>(st.st_size) < kPixelOffset + bytes)) {
    cprintf("Texture file %s is truncated: %d x %d needs %lld bytes, the file has %lld\n",
            path.c_str(), width, height, kPixelOffset + bytes,
            sized ? static_cast<long long>(st.st_size) : static_cast<long long>(got));
    place(path, sized ? static_cast<long long>(st.st_size) : static_cast<long long>(got),
          "the file ends; expected " + std::to_string(kPixelOffset + bytes) + " bytes");
    return 0;
  }

  std::vector<unsigned char> rgb;
  try {
    rgb.resize(static_cast<size_t>(bytes));
  } catch (const std::bad_alloc&) {
    cprintf("Error allocating memory for color-corrected image data");
    report(Severity::Warning, "texture not loaded: not enough memory for its pixels", path);
    return 0;
  }
  const size_t read = std::fread(rgb.data(), 1, rgb.size(), f);
  if (read != rgb.size()) {
    cprintf("Texture file %s is truncated: %d x %d needs %lld bytes, the file has %lld\n",
            path.c_str(), width, height, kPixelOffset + bytes,
            kPixelOffset + static_cast<long long>(read));
    place(path, kPixelOffset + static_cast<long long>(read),
          "the file ends; expected " + std::to_string(kPixelOffset + bytes) + " bytes");
    return 0;
  }
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);  // B G R -> R G B
  img.width = width;
  img.height = height;
  img.rgb = std::move(rgb);
  return 1;
}

void loadTextureImages(Model& m) {
  cprintf("Success allocating space for image\n");
  for (int i = 0; i < m.texture_num(); ++i) {
    Texture& tex = m.textures[i];
    if (i >= kMaxTextures) {
      tex.image = Image();
      cprintf("Texture %s is not loaded: at most %d textures\n", tex.name.c_str(), kMaxTextures);
      report(Severity::Warning,
             "texture " + tex.name + " not loaded: at most " + std::to_string(kMaxTextures) +
                 " textures",
             m.path, tex.line);
      continue;
    }
    loadBmp(resolveModelFile(m, tex.file), tex.image);
  }
  // The 3D view makes its texture objects from the decoded images later.
  cprintf("Success Load image\n");
  cprintf("Success Create Texture\n");
}

}  // namespace orv

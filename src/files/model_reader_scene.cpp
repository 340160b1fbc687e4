// The model file reader, sections 8 to 10: shapes, textures and shadows.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files/model_reader_impl.h"
#include "files/stl_reader.h"
#include "model/settings.h"
#include "model/types.h"
#include "platform/console.h"

namespace orv {
namespace reader {

void Reader::shapes() {
  static const char* const kSize[] = {"size 1", "size 2", "size 3", "size 4"};
  cprintf("%s\n", cur_.c_str());
  std::vector<Shape> rows;
  std::vector<std::string> stlFiles;
  std::vector<SourcePos> colorPos;
  int n = list(kShape, " %s,", [&](const std::string& first, int rec) {
    recordName(kShape, rec, first, "shape");
    Shape sh;
    sh.line = recordLine_;
    sh.name = first;
    const ShapeTypeRow& type = typeWord(kShape, rec, "shape type", kShapeTypes);
    sh.type = type.word;
    sh.kind = type.type;
    sh.frame = name(kShape, rec, "the reference local coordinate name");
    sh.color = name(kShape, rec, "a colour name");
    colorPos.push_back(in_.pos());
    sh.trans = expr(kShape, rec, "the opacity");
    std::string file;
    if (sh.kind == ShapeType::Spring) {
      sh.force_name = name(kShape, rec, "a force name");
      sh.force = findLastByName(t_.forces, sh.force_name);
    }
    if (sh.kind == ShapeType::Stl) {
      sh.size[0] = expr(kShape, rec, "the unit of the mesh");
      const std::string sign = field(kShape, rec, "the normal sign (+ or -)");
      if (sign != "+" && sign != "-")
        fail(kShape, rec, in_.pos(),
             format("unknown normal sign %s (expected + or -)", shownToken(sign).c_str()));
      sh.size[1] = sign == "+" ? 1.0 : -1.0;
      file = field(kShape, rec, "an STL file name");
    } else {
      exprs(kShape, rec, sh.size, type.sizes, kSize);
    }
    rows.push_back(sh);
    stlFiles.push_back(file);
  });
  refuseDuplicates(kShape, rows, "shape");
  cprintf("shape_num=%d\n", n);
  cprintf("\n");
  if (n == 0) return;
  t_.shapes = rows;
  // Two or more mesh files are read side by side first, when threads are set.
  std::vector<std::string> paths;
  std::vector<double> units;
  for (int i = 0; i < n; ++i) {
    if (rows[i].kind != ShapeType::Stl) continue;
    const std::string path = resolveModelFile(t_, stlFiles[i]);
    bool again = false;
    for (size_t k = 0; k < paths.size(); ++k)
      again |= paths[k] == path && std::memcmp(&units[k], &rows[i].size[0], sizeof(double)) == 0;
    if (!again) paths.push_back(path), units.push_back(rows[i].size[0]);
  }
  std::vector<std::shared_ptr<const StlMesh>> ahead;
  if (paths.size() > 1 && s_.N_THREADS > 1) readStlAhead(paths, units, s_.N_THREADS, ahead);
  for (int i = 0; i < n; ++i) {
    Shape& sh = t_.shapes[i];
    sh.id = i;
    sh.lc = findLastByName(t_.frames, sh.frame);
    sh.body = sh.lc >= 0 ? t_.frames[sh.lc].body : -1;
    if (!lookupColor(s_, sh.color, sh.RGB)) {
      // An unknown colour is drawn mid-grey rather than with undefined values.
      sh.RGB[0] = sh.RGB[1] = sh.RGB[2] = 0.5;
      cprintf("  ### Unknown color %s: drawn gray ###\n", sh.color.c_str());
      warn(colorPos[i], "unknown colour '" + sh.color + "' drawn grey");
    }
    sh.unit = 1.0;
    sh.normal_sign = 1;
    if (sh.kind == ShapeType::Stl) {
      sh.unit = sh.size[0];
      sh.normal_sign = static_cast<int>(sh.size[1]);
      readStl(t_, i, resolveModelFile(t_, stlFiles[i]), &ahead);
    }
    cprintf("  %d, %s:Type=%s, Ref.frame=%s, id=%d, Body_id=%d\n          trans=%e, "
            "size=%e,%e,%e\n",
            i, sh.name.c_str(), sh.type.c_str(), sh.frame.c_str(), sh.lc, sh.body, sh.trans,
            sh.size[0], sh.size[1], sh.size[2]);
    cprintf("          color=%s, RGB=%.2e,%.2e,%.2e\n", sh.color.c_str(), sh.RGB[0], sh.RGB[1],
            sh.RGB[2]);
  }
}

void Reader::textures() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Texture> rows;
  int n = list(kTexture, " %s\n", [&](const std::string& first, int rec) {
    recordName(kTexture, rec, first, "texture");
    Texture tx;
    tx.line = recordLine_;
    tx.name = first;
    const TextureTypeRow& type = typeWord(kTexture, rec, "texture type", kTextureTypes);
    tx.type = type.word;
    tx.kind = type.type;
    tx.body_name = name(kTexture, rec, "a body name");
    tx.frame = name(kTexture, rec, "a local coordinate name");
    tx.Lx = expr(kTexture, rec, "Lx");
    tx.Ly = expr(kTexture, rec, "Ly");
    tx.dx = truncToInt(expr(kTexture, rec, "dx"));
    // A cylinder's image wraps around it once.
    tx.dy = tx.kind == TextureType::Rect ? truncToInt(expr(kTexture, rec, "dy")) : 1;
    tx.file = name(kTexture, rec, "a BMP file name");
    rows.push_back(tx);
  });
  cprintf("texture_num=%d\n", n);
  if (n == 0) return;
  t_.textures = rows;
  for (int i = 0; i < n; ++i) {
    Texture& tx = t_.textures[i];
    tx.id = i;
    tx.body = findLastByName(t_.bodies, tx.body_name);
    tx.lc = findLastByName(t_.frames, tx.frame);
    cprintf("  %d, %s:%s, %s, %s[%d], %s\n", i, tx.name.c_str(), tx.type.c_str(),
            tx.body_name.c_str(), tx.frame.c_str(), tx.lc, tx.file.c_str());
    cprintf("          Lx=%.3e, Ly=%.3e, dx=%d, dy=%d\n", tx.Lx, tx.Ly, tx.dx, tx.dy);
  }
}

void Reader::shadows() {
  cprintf("%s\n", cur_.c_str());
  std::vector<Shadow> rows;
  int n = list(kShadow, " %s, ", [&](const std::string& first, int rec) {
    recordName(kShadow, rec, first, "shadow");
    Shadow sd;
    sd.line = recordLine_;
    sd.name = first;
    sd.frame = name(kShadow, rec, "a local coordinate name");
    cprintf(" %s, ", sd.frame.c_str());
    sd.shape_name = name(kShadow, rec, "a shape name");
    cprintf(" %s\n", sd.shape_name.c_str());
    rows.push_back(sd);
  });
  cprintf("shadow_num=%d\n", n);
  if (n == 0) return;
  t_.shadows = rows;
  for (int i = 0; i < n; ++i) {
    Shadow& sd = t_.shadows[i];
    sd.id = i;
    sd.lc = findLastByName(t_.frames, sd.frame);
    sd.shape = findLastByName(t_.shapes, sd.shape_name);
    cprintf("  %d, %s: %s[%d], %s[%d]\n", i, sd.name.c_str(), sd.frame.c_str(), sd.lc,
            sd.shape_name.c_str(), sd.shape);
  }
}

}  // namespace reader
}  // namespace orv

// The mechanism: every table of records the model file describes, plus the
// scalars of the time span and the drawing. Constant during an analysis; only
// the model reader writes it (the motion import also replaces the output
// channels, since imported channels describe the imported data).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "math/units.h"
#include "model/types.h"

namespace orv {

// Field limits of the model file. The reader refuses longer names and texts
// with the miss-input error of the section, so stored files stay portable.
constexpr int kNameMax = 63;        // characters of a name
constexpr int kExprMax = 255;       // characters of an expression text
constexpr int kForceExprMax = 511;  // characters of a force component text
constexpr int kTokenMax = 255;      // characters of any one token
constexpr int kStlMaxTriangles = 33333;
constexpr int kStlMaxNodes = 33333;
constexpr int kMaxTextures = 30;

// Every record keeps the line of the model file where it starts (0 for a
// record built in memory), so that a check after the read can name it.
// Records of a type keep the file's word for messages and echoes, and its
// enum for the run (resolveTypesAndAxes fills the enums of a model built in
// memory).

struct Parameter {
  int id = 0;
  std::string name;
  double value = 0.0;
  std::string expr;
  int line = 0;  // of the record in the model file
};

struct Body {
  int id = 0;
  std::string name;
  std::string cg;  // local coordinate marking the centre of gravity
  double mass = 0.0;
  double inertia[3] = {0, 0, 0};  // Ixx, Iyy, Izz about the cg axes
  double cg_pos[3] = {0, 0, 0};   // initial global position of the cg
  int cg_lc = -1;
  double vel0[3] = {0, 0, 0};
  double omega0[3] = {0, 0, 0};  // body axes
  int line = 0;                  // of the record in the model file
};

struct LocalCoordinate {
  int id = 0;
  std::string name;
  std::string body_name;
  int body = -1;
  double pos[3] = {0, 0, 0};  // initial global position
  double ang[3] = {0, 0, 0};  // Z-X-Z Euler angles, degrees
  // Its axes in its body's axes (columns x, y, z): the Z-X-Z rotation of ang,
  // set with the angles (setLocalAxes), since every joint and measure reads it.
  double axes[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  int line = 0;  // of the record in the model file
};

struct Joint {
  int id = 0;
  int flag = 0;
  std::string name;
  std::string type;
  JointType kind = JointType::Unknown;
  std::string iframe;
  std::string jframe;
  int i_lc = -1;
  int j_lc = -1;
  int i_body = -1;
  int j_body = -1;
  int line = 0;  // of the record in the model file
};

struct Motion {
  int id = 0;
  int flag = 0;
  std::string name;
  std::string type;  // "R" rotation, "T" translation
  MotionType kind = MotionType::Unknown;
  std::string joint_name;
  int joint = -1;
  int i_body = -1;
  int j_body = -1;
  std::string equ_type;
  std::string dt_equ;  // prescribed rate, evaluated at every step
  std::string ddt_equ = "0.0";
  int line = 0;  // of the record in the model file
};

struct ModelFunction {
  int id = 0;
  std::string name;
  std::string expr;
  int line = 0;  // of the record in the model file
};

struct Force {
  int id = 0;
  int flag = 0;
  std::string name;
  std::string type;  // "spring1", "spring6", "force6"
  ForceType kind = ForceType::Unknown;
  std::string iframe, jframe, rframe;
  int i_lc = -1, j_lc = -1, r_lc = -1;
  int i_body = -1, j_body = -1, r_body = -1;
  double k[6] = {0, 0, 0, 0, 0, 0};
  double c[6] = {0, 0, 0, 0, 0, 0};
  // spring1: the length at which it pulls nothing; below zero when the model
  // gives none and the distance at the start is taken.
  double free_length = -1.0;
  std::string equ[6] = {"0.0", "0.0", "0.0", "0.0", "0.0", "0.0"};  // Fx Fy Fz Tx Ty Tz
  int line = 0;  // of the record in the model file
};

// A triangle mesh as an ASCII STL file gives it: corners scaled by the unit
// and merged into nodes, in the file's own axes. Never changed once read.
struct StlMesh {
  std::string path;  // the file read
  double unit = 1.0;
  std::vector<double> node;  // 3 per node
  std::vector<int> tri;      // 3 node indices per triangle
  int node_num() const { return static_cast<int>(node.size() / 3); }
  int stl_num() const { return static_cast<int>(tri.size() / 3); }
};

struct Shape {
  int id = 0;
  std::string name;
  std::string type;  // sphere cube solid cylinder spring pipe STL
  ShapeType kind = ShapeType::Unknown;
  std::string color;
  std::string frame;
  int lc = -1;
  std::string force_name = "Non";
  int force = -1;
  double trans = 1.0;
  double size[6] = {0, 0, 0, 0, 0, 0};
  int body = -1;
  double RGB[3] = {0, 0, 0};
  // Mesh of an STL shape: the file's mesh, shared with every shape that reads
  // the same file at the same unit, and where this shape puts it in global
  // coordinates of the initial configuration, x0 = mesh_A x + mesh_pos (the
  // reference local coordinate's placement when the mesh was read). Without a
  // mesh, stl_error says why (empty for shapes of other types).
  std::shared_ptr<const StlMesh> mesh;
  double mesh_A[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  double mesh_pos[3] = {0, 0, 0};
  int node_num = 0;
  int vertex_num = 0;
  int stl_num = 0;
  std::string stl_file;  // the mesh file as opened or, when missing, as named
  std::string stl_error;
  double unit = 1.0;
  int normal_sign = 1;
  int line = 0;  // of the record in the model file
};

// A decoded 24-bit image, R G B per pixel, rows bottom-up.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

struct Texture {
  int id = 0;
  std::string name;
  std::string type;  // "rect", "cylinder_one"
  TextureType kind = TextureType::Unknown;
  std::string body_name;
  std::string frame;
  std::string file;
  int body = -1;
  int lc = -1;
  double Lx = 0.0, Ly = 0.0;
  int dx = 0, dy = 0;
  Image image;   // empty when the file could not be decoded
  int line = 0;  // of the record in the model file
};

struct Shadow {
  int id = 0;
  std::string name;
  std::string frame;
  int lc = -1;
  std::string shape_name;
  int shape = -1;
  int line = 0;  // of the record in the model file
};

struct Contact {
  int id = 0;
  int flag = 0;
  std::string name;
  std::string iSTL, jSTL;
  int i_shape = -1, j_shape = -1;
  int i_body = -1, j_body = -1;
  int i_stl_num = 0, j_stl_num = 0;
  double k = 0, c = 0, d = 0, e = 0, myu = 0;
  int line = 0;  // of the record in the model file
};

struct OutputRequest {
  int id = 0;
  std::string name;
  std::string equ;
  int line = 0;  // of the record in the model file
};

struct GravityLoad {
  int flag = 0;
  double F[3] = {0, 0, 0};
  std::string direction;
};

// The meshes read for the model, each file once per unit, and the lengths
// the reader reports for the lists of every STL shape's nodes, normals and
// corners one after another (a shape's share of them starts there).
struct StlLists {
  std::vector<std::shared_ptr<const StlMesh>> meshes;
  long long coord_count = 0;
  long long normal_count = 0;
  long long tri_count = 0;
  void clear() {
    meshes.clear();
    coord_count = normal_count = tri_count = 0;
  }
};

struct Model {
  std::vector<Parameter> parameters;
  std::vector<Body> bodies;
  std::vector<LocalCoordinate> frames;  // local coordinates
  std::vector<Joint> joints;
  std::vector<Motion> motions;
  std::vector<ModelFunction> functions;
  std::vector<Force> forces;
  std::vector<Shape> shapes;
  std::vector<Texture> textures;
  std::vector<Shadow> shadows;
  std::vector<Contact> contacts;
  std::vector<OutputRequest> outputs;
  std::vector<GravityLoad> gravity;  // one per body
  StlLists stl;

  int const_num = 0;  // constraint equations of all joints and motions

  double start_time = 0.0;
  double d_time = 0.0;  // the longest step; every multiple of it is stepped onto
  double end_time = 0.0;
  // A sample is stored at every steps_per_sample-th multiple of d_time; the
  // steps taken do not depend on it.
  int steps_per_sample = 1;
  int sample_num = 1;  // samples stored: start_time + i steps_per_sample d_time up to end_time

  double frame_size = 0.0;  // drawn length of local-coordinate axes
  double force_size = 0.0;  // scale of drawn force arrows
  double lc_min[3] = {0, 0, 0};
  double lc_max[3] = {0, 0, 0};
  double max_length = 1.0;  // largest extent of the local coordinates
  int model_opened = 0;
  std::string path;  // the model file as opened

  int parameter_num() const { return static_cast<int>(parameters.size()); }
  int body_num() const { return static_cast<int>(bodies.size()); }
  int frame_num() const { return static_cast<int>(frames.size()); }
  int joint_num() const { return static_cast<int>(joints.size()); }
  int motion_num() const { return static_cast<int>(motions.size()); }
  int func_num() const { return static_cast<int>(functions.size()); }
  int force_num() const { return static_cast<int>(forces.size()); }
  int shape_num() const { return static_cast<int>(shapes.size()); }
  int texture_num() const { return static_cast<int>(textures.size()); }
  int shadow_num() const { return static_cast<int>(shadows.size()); }
  int contact_num() const { return static_cast<int>(contacts.size()); }
  int output_num() const { return static_cast<int>(outputs.size()); }
};

// Index of the last record whose name equals `name` byte for byte, -1 if none.
template <class Record>
int findLastByName(const std::vector<Record>& table, const std::string& name) {
  int found = -1;
  for (int i = 0; i < static_cast<int>(table.size()); ++i)
    if (table[i].name == name) found = i;
  return found;
}

// Sets lc.axes from lc.ang.
void setLocalAxes(LocalCoordinate& lc);

// Fills what the reader derives from the texts and angles of a model: the
// type enums of joints, motions, forces, shapes and textures from their
// words, and the axes of every local coordinate. A model built in memory
// calls it once its records are in place.
void resolveTypesAndAxes(Model& m);

// Path of a file the model names (STL, BMP): as given when it exists there
// (relative to the working directory), else beside the model file.
std::string resolveModelFile(const Model& m, const std::string& name);

// Sample count of a time span: (int)((end - start) / dt + 1.0), truncated.
int sampleCount(double start_time, double d_time, double end_time);

// Recomputes the box of all local-coordinate positions and max_length (0 with none).
void computeLcBox(Model& m);

// Fills the gravity table: one load per body, set from flag and direction.
void buildGravity(Model& m, int flag, const std::string& direction);

}  // namespace orv

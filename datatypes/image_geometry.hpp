// Pixel geometry: maps the pixels of an image onto any quadrilateral (skew,
// perspective-like distortion, mirroring, resizing) with bilinear
// interpolation, crops rectangles of pixels, and turns packed YUV 4:2:2
// video pixels into 32-bit colours.
//
// These work on plain buffers of 32-bit pixels, rows top first without gaps
// (the layout of image! bitmaps), and on 2D vectors. They are offered to
// drawing back-ends; `image::transform` is their entry for image! values.
// Buffers made here come from the C heap and are freed by their user.
#pragma once

#include "runtime/cell.hpp"

namespace zir {
namespace image_geometry {

struct Vector {
    double x, y;
};

struct Point {
    float x, y;
};

// Top-left, top-right, bottom-right, bottom-left.
struct Quad {
    Point p[4];
};

// --- Vectors --------------------------------------------------------------------

void vector_set(Vector* v, double x, double y);
// v = b - a.
void vector_subtract(Vector* v, double ax, double ay, double bx, double by);
double vector_length(const Vector* v);
// Scales v to length 1; a vector of length 0 stays as it is.
void normalize(Vector* v);
double cross(const Vector* a, const Vector* b);
double dot(const Vector* a, const Vector* b);

// --- A point and a segment from (ax, ay) to (bx, by) ------------------------------

bool right_of_q(double px, double py, double ax, double ay, double bx, double by);
bool left_of_q(double px, double py, double ax, double ay, double bx, double by);
// The distance of the point from the line through the segment.
double line_distance(double px, double py, double ax, double ay, double bx, double by);
// Whether the point lies inside the quad or on one of its edges.
bool point_in_quad_q(const Quad* quad, double px, double py);

// --- Other routines ----------------------------------------------------------------

// Turns v about the origin by an angle in degrees (counterclockwise in a
// frame whose y axis points up).
void rotate_point(Vector* v, double degrees);
// Every x becomes 2 x width - x; every y 2 x height - y.
void mirror_x(Quad* quad, double width);
void mirror_y(Quad* quad, double height);

// Copies the rectangle of w x h pixels at (x, y), cut to the buffer, packed
// row after row into `destination`; false (nothing copied) when (x, y) lies
// outside the buffer.
bool crop(const u32* pixels, i32 width, i32 height, i32 x, i32 y, i32 w, i32 h, u32* destination);

// The buffer mapped onto the quad: a new buffer (C heap) covering the quad's
// bounding box, whose place and size are written to the outs; pixels outside
// the quad are 0 (transparent black). Null for an empty source, and for a
// box that is empty or larger than an image may be.
u32* transform(const u32* pixels, i32 width, i32 height, const Quad* quad, i32* out_x, i32* out_y, i32* out_width,
               i32* out_height);
// The buffer stretched to new_width x new_height (a transform onto the
// rectangle of that size); null when that cannot be made.
u32* resize(const u32* pixels, i32 width, i32 height, i32 new_width, i32 new_height);

// Packed YUV 4:2:2 (Y0, U, Y1, V for every two pixels; a last odd pixel of a
// row has a group of its own) to 32-bit words 0xFFBBGGRR.
void yuv_to_rgb(i32 width, i32 height, const u8* source, u32* destination);

}  // namespace image_geometry

namespace image {

// The image (or, with `crop` pointing at an offset pair and a size pair, that
// rectangle of it, cut to the image) mapped by `image_geometry::transform`
// onto the quad the points describe (each a pair! or point2D!): one point
// places the rectangle's top-left corner; two are the top-left and
// bottom-right corners; three the top-left, top-right and bottom-left ones
// (the fourth completing a parallelogram); four the top-left, top-right,
// bottom-left and bottom-right ones. A quad whose top-right lies left of its
// top-left is mirrored in x (about the top-left), one whose bottom-right lies
// above its top-right in y (about the top-right), and the corresponding out
// size is then negative. The new image goes to `result`; none for another
// count of points or a quad that gives no pixels.
Cell* transform(const Cell* img, Cell* result, const Cell* crop, const Cell* points, i32 count, i32* out_x,
                i32* out_y, i32* out_width, i32* out_height);

}  // namespace image
}  // namespace zir

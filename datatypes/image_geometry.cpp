// Pixel geometry: see image_geometry.hpp.
#include "datatypes/image_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/image.hpp"
#include "datatypes/none.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"

namespace zir {
namespace image_geometry {

// --- Vectors --------------------------------------------------------------------

void vector_set(Vector* v, double x, double y) { *v = Vector{x, y}; }

void vector_subtract(Vector* v, double ax, double ay, double bx, double by) { *v = Vector{bx - ax, by - ay}; }

double vector_length(const Vector* v) { return std::sqrt(v->x * v->x + v->y * v->y); }

void normalize(Vector* v) {
    double n = vector_length(v);
    if (n == 0) return;
    v->x /= n;
    v->y /= n;
}

double cross(const Vector* a, const Vector* b) { return a->x * b->y - a->y * b->x; }

double dot(const Vector* a, const Vector* b) { return a->x * b->x + a->y * b->y; }

// --- A point and a segment --------------------------------------------------------

namespace {

double side(double px, double py, double ax, double ay, double bx, double by) {
    Vector u, w;
    vector_subtract(&u, ax, ay, px, py);
    vector_subtract(&w, ax, ay, bx, by);
    return cross(&u, &w);
}

}  // namespace

bool right_of_q(double px, double py, double ax, double ay, double bx, double by) {
    return side(px, py, ax, ay, bx, by) < 0;
}

bool left_of_q(double px, double py, double ax, double ay, double bx, double by) {
    return side(px, py, ax, ay, bx, by) > 0;
}

double line_distance(double px, double py, double ax, double ay, double bx, double by) {
    Vector u, w;
    vector_subtract(&u, ax, ay, px, py);
    vector_subtract(&w, ax, ay, bx, by);
    normalize(&w);
    return std::fabs(cross(&w, &u));
}

bool point_in_quad_q(const Quad* q, double px, double py) {
    for (int k = 0; k < 4; k++) {
        const Point& a = q->p[k];
        const Point& b = q->p[(k + 1) % 4];
        if (left_of_q(px, py, a.x, a.y, b.x, b.y)) return false;
    }
    return true;
}

// --- Other routines ----------------------------------------------------------------

void rotate_point(Vector* v, double degrees) {
    double t = degrees * 3.14159265359 / 180;
    double x = v->x, y = v->y;
    v->x = x * std::cos(t) - y * std::sin(t);
    v->y = x * std::sin(t) + y * std::cos(t);
}

void mirror_x(Quad* q, double width) {
    for (Point& p : q->p) p.x = float(2 * width - p.x);
}

void mirror_y(Quad* q, double height) {
    for (Point& p : q->p) p.y = float(2 * height - p.y);
}

bool crop(const u32* pixels, i32 width, i32 height, i32 x, i32 y, i32 w, i32 h, u32* destination) {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    i64 cw = std::min<i64>(w, i64(width) - x), ch = std::min<i64>(h, i64(height) - y);
    for (i64 row = 0; row < ch; row++)
        std::memcpy(destination + row * cw, pixels + (y + row) * i64(width) + x, size_t(std::max<i64>(cw, 0)) * 4);
    return true;
}

namespace {

// Whether a box may become an image: the limits of image! sides and sizes.
bool box_fits_q(double w, double h) { return w >= 1 && h >= 1 && w <= 65535 && h <= 65535 && w * h * 4 <= MAX_LENGTH; }

inline u32 byte_of(u32 pixel, int k) { return pixel >> (8 * k) & 255; }

}  // namespace

u32* transform(const u32* pixels, i32 width, i32 height, const Quad* q, i32* out_x, i32* out_y, i32* out_width,
               i32* out_height) {
    if (width < 1 || height < 1) return nullptr;
    double min_x = 3.4028234663852886e38, min_y = 3.4028234663852886e38;
    double max_x = -3.4028234663852886e38, max_y = -3.4028234663852886e38;
    for (const Point& p : q->p) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return nullptr;
        min_x = std::min<double>(min_x, p.x);
        min_y = std::min<double>(min_y, p.y);
        max_x = std::max<double>(max_x, p.x);
        max_y = std::max<double>(max_y, p.y);
    }
    double box_w = std::trunc(max_x - min_x), box_h = std::trunc(max_y - min_y);
    // A box no image could hold, or placed beyond 32-bit coordinates, makes
    // nothing (and no integer is made from a float that has none).
    if (!box_fits_q(box_w, box_h) || !(std::fabs(min_x) < 2147483647.0) || !(std::fabs(min_y) < 2147483647.0))
        return nullptr;
    i32 ox = i32(std::trunc(min_x)), oy = i32(std::trunc(min_y)), ow = i32(box_w), oh = i32(box_h);
    Vector e[4];
    for (int k = 0; k < 4; k++) {
        const Point& a = q->p[k];
        const Point& b = q->p[(k + 1) % 4];
        vector_subtract(&e[k], a.x, a.y, b.x, b.y);
        normalize(&e[k]);
    }
    u32* out = static_cast<u32*>(std::calloc(size_t(ow) * size_t(oh), 4));
    if (!out) return nullptr;
    for (i32 r = 0; r < oh; r++) {
        for (i32 c = 0; c < ow; c++) {
            double px = double(ox) + c, py = double(oy) + r;
            if (!point_in_quad_q(q, px, py)) continue;
            double d[4];
            for (int k = 0; k < 4; k++) {
                Vector u;
                vector_subtract(&u, q->p[k].x, q->p[k].y, px, py);
                d[k] = std::fabs(cross(&u, &e[k]));
            }
            // Across: the distance from the left edge over the distances from
            // both sides; down: from the top over top and bottom.
            double u = width * d[3] / (d[1] + d[3]);
            double v = height * d[0] / (d[2] + d[0]);
            if (!(u >= 0 && u < width && v >= 0 && v < height)) continue;
            i32 iu = i32(u), iv = i32(v);
            i32 nu = iu + 1 < width ? iu + 1 : iu, nv = iv + 1 < height ? iv + 1 : iv;
            double fu = std::max(0.0, u - iu), fv = std::max(0.0, v - iv);
            u32 p00 = pixels[i64(iv) * width + iu], p10 = pixels[i64(iv) * width + nu];
            u32 p01 = pixels[i64(nv) * width + iu], p11 = pixels[i64(nv) * width + nu];
            double w00 = (1 - fu) * (1 - fv), w10 = fu * (1 - fv), w01 = (1 - fu) * fv, w11 = fu * fv;
            u32 result = 0;
            for (int k = 0; k < 4; k++) {
                // The weights sum to 1 only within rounding: a little over
                // keeps a whole byte (255 between 255s) from falling one short
                // when the sum is truncated.
                double s = w00 * byte_of(p00, k) + w10 * byte_of(p10, k) + w01 * byte_of(p01, k) +
                           w11 * byte_of(p11, k) + 1e-7;
                result |= u32(std::clamp(s, 0.0, 255.0)) << (8 * k);
            }
            out[i64(r) * ow + c] = result;
        }
    }
    *out_x = ox;
    *out_y = oy;
    *out_width = ow;
    *out_height = oh;
    return out;
}

u32* resize(const u32* pixels, i32 width, i32 height, i32 new_width, i32 new_height) {
    Quad q{{{0, 0}, {float(new_width), 0}, {float(new_width), float(new_height)}, {0, float(new_height)}}};
    i32 x = 0, y = 0, w = 0, h = 0;
    u32* out = transform(pixels, width, height, &q, &x, &y, &w, &h);
    if (out && (w != new_width || h != new_height)) {
        std::free(out);
        return nullptr;
    }
    return out;
}

void yuv_to_rgb(i32 width, i32 height, const u8* source, u32* destination) {
    auto clamp = [](i32 v) { return u32(std::clamp(v, 0, 255)); };
    i64 groups = (i64(width) + 1) / 2;
    for (i64 row = 0; row < height; row++) {
        const u8* s = source + row * groups * 4;
        u32* d = destination + row * width;
        for (i64 x = 0; x < width; x += 2, s += 4) {
            i32 u = i32(s[1]) - 128, v = i32(s[3]) - 128;
            // 16.16 fixed point for 1.402, 0.714, 0.334 and 1.772; the shifts
            // of negative products are arithmetic.
            i32 dr = (v * 91881) >> 16, dg = ((v * 46792) >> 16) + ((u * 21889) >> 16), db = (u * 116129) >> 16;
            for (i64 k = 0; k < 2 && x + k < width; k++) {
                i32 y = s[2 * k];
                d[x + k] = 0xFF000000u | clamp(y + db) << 16 | clamp(y - dg) << 8 | clamp(y + dr);
            }
        }
    }
}

}  // namespace image_geometry

namespace image {

namespace {

image_geometry::Point point_of(const Cell* c) {
    if (TYPE_OF(c) == TYPE_POINT2D) return {point2D::x_of(c), point2D::y_of(c)};
    return {float(pair::x_of(c)), float(pair::y_of(c))};
}

}  // namespace

Cell* transform(const Cell* img, Cell* result, const Cell* crop, const Cell* points, i32 count, i32* out_x,
                i32* out_y, i32* out_width, i32* out_height) {
    *result = none::value;
    if (count < 1 || count > 4) return result;
    for (i32 i = 0; i < count; i++)
        if (TYPE_OF(&points[i]) != TYPE_PAIR && TYPE_OF(&points[i]) != TYPE_POINT2D) return result;
    image_backend::Lock lock;
    const u32* pixels = lock_pixels(img, &lock);
    i32 sw = width_of(img), sh = height_of(img);
    std::vector<u32> cropped;
    if (crop) {
        i64 x = pair::x_of(&crop[0]), y = pair::y_of(&crop[0]);
        i64 w = std::min<i64>(pair::x_of(&crop[1]), sw - x), h = std::min<i64>(pair::y_of(&crop[1]), sh - y);
        if (x < 0 || y < 0 || w < 1 || h < 1) {
            unlock_pixels(img, &lock, false);
            return result;
        }
        cropped.resize(size_t(w * h));
        image_geometry::crop(pixels, sw, sh, i32(x), i32(y), i32(w), i32(h), cropped.data());
        pixels = cropped.data();
        sw = i32(w);
        sh = i32(h);
    }
    image_geometry::Point tl = point_of(&points[0]), tr, br, bl;
    switch (count) {
        case 1:
            tr = {tl.x + sw, tl.y};
            br = {tl.x + sw, tl.y + sh};
            bl = {tl.x, tl.y + sh};
            break;
        case 2:
            br = point_of(&points[1]);
            tr = {br.x, tl.y};
            bl = {tl.x, br.y};
            break;
        case 3:
            tr = point_of(&points[1]);
            bl = point_of(&points[2]);
            br = {tr.x + bl.x - tl.x, tr.y + bl.y - tl.y};
            break;
        default:
            tr = point_of(&points[1]);
            bl = point_of(&points[2]);
            br = point_of(&points[3]);
            break;
    }
    image_geometry::Quad q{{tl, tr, br, bl}};
    bool flip_x = tr.x < tl.x, flip_y = br.y < tr.y;
    if (flip_x) image_geometry::mirror_x(&q, tl.x);
    if (flip_y) image_geometry::mirror_y(&q, tr.y);
    i32 x = 0, y = 0, w = 0, h = 0;
    u32* made = image_geometry::transform(pixels, sw, sh, &q, &x, &y, &w, &h);
    unlock_pixels(img, &lock, false);
    if (!made) return result;
    // The new bitmap's record is made before the pixels are copied in; the
    // heap buffer is freed on every way out.
    struct Free {
        u32* p;
        ~Free() { std::free(p); }
    } owned{made};
    make_at(result, image_backend::make_bitmap(w, h, nullptr, nullptr, nullptr));
    u32* target = lock_pixels(result, &lock);
    std::memcpy(target, made, size_t(w) * size_t(h) * 4);
    unlock_pixels(result, &lock, true);
    *out_x = x;
    *out_y = y;
    *out_width = flip_x ? -w : w;
    *out_height = flip_y ? -h : h;
    return result;
}

}  // namespace image
}  // namespace zir

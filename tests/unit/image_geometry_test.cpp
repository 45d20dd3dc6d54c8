// Pixel geometry: vectors, point tests, rotation, cropping, the quad
// transform and its image! entry, and YUV 4:2:2 conversion.
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "datatypes/image.hpp"
#include "datatypes/image_geometry.hpp"
#include "datatypes/point.hpp"
#include "values.hpp"

namespace zir {
namespace {

using namespace test;
using namespace image_geometry;

Quad rect(float x, float y, float w, float h) { return Quad{{{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}}}; }

TEST(ImageGeometry, Vectors) {
    Vector v, w;
    vector_set(&v, 3, 4);
    EXPECT_EQ(vector_length(&v), 5);
    normalize(&v);
    EXPECT_DOUBLE_EQ(v.x, 0.6);
    EXPECT_DOUBLE_EQ(v.y, 0.8);
    vector_set(&w, 0, 0);
    normalize(&w);
    EXPECT_TRUE(w.x == 0 && w.y == 0) << "a vector of length 0 stays";
    vector_subtract(&v, 1, 2, 4, 8);
    EXPECT_TRUE(v.x == 3 && v.y == 6) << "b - a";
    vector_set(&w, 2, 1);
    EXPECT_EQ(cross(&v, &w), 3 * 1 - 6 * 2);
    EXPECT_EQ(dot(&v, &w), 3 * 2 + 6 * 1);
}

TEST(ImageGeometry, PointsAndSegments) {
    // The segment along the x axis, in screen coordinates (y down).
    struct Case {
        double px, py;
        bool right, left;
        double distance;
    } cases[] = {{1, 1, true, false, 1}, {1, -2, false, true, 2}, {5, 0, false, false, 0}, {-3, 0.5, true, false, 0.5}};
    for (const Case& c : cases) {
        EXPECT_EQ(right_of_q(c.px, c.py, 0, 0, 4, 0), c.right) << c.px << "," << c.py;
        EXPECT_EQ(left_of_q(c.px, c.py, 0, 0, 4, 0), c.left) << c.px << "," << c.py;
        EXPECT_DOUBLE_EQ(line_distance(c.px, c.py, 0, 0, 4, 0), c.distance) << c.px << "," << c.py;
    }
    Quad q = rect(0, 0, 4, 3);
    struct In {
        double x, y;
        bool inside;
    } points[] = {{2, 1, true},  {0, 0, true},   {4, 3, true},   {2, 0, true},  {4, 1, true},
                  {2, 3, true},  {0, 2, true},   {-0.1, 1, false}, {4.1, 1, false}, {2, -0.1, false},
                  {2, 3.1, false}, {9, 9, false}};
    for (const In& p : points) EXPECT_EQ(point_in_quad_q(&q, p.x, p.y), p.inside) << p.x << "," << p.y;
}

TEST(ImageGeometry, RotationKeepsLengthsAndComposes) {
    // Turning by 0 changes nothing and by 180 negates: the rotation used to
    // compute y' = x sin - y cos, which reflects every point.
    Vector v;
    vector_set(&v, 1, 2);
    rotate_point(&v, 0);
    EXPECT_DOUBLE_EQ(v.x, 1);
    EXPECT_DOUBLE_EQ(v.y, 2);
    rotate_point(&v, 180);
    EXPECT_NEAR(v.x, -1, 1e-9);
    EXPECT_NEAR(v.y, -2, 1e-9);
    Vector a, b;
    vector_set(&a, 3, -1);
    vector_set(&b, 3, -1);
    rotate_point(&a, 30);
    rotate_point(&a, 60);
    rotate_point(&b, 90);
    EXPECT_NEAR(a.x, b.x, 1e-9);
    EXPECT_NEAR(a.y, b.y, 1e-9);
    EXPECT_NEAR(b.x, 1, 1e-9) << "(3, -1) turned a quarter is (1, 3)";
    EXPECT_NEAR(b.y, 3, 1e-9);
    EXPECT_NEAR(vector_length(&a), std::sqrt(10.0), 1e-9);
}

TEST(ImageGeometry, MirrorAndCrop) {
    Quad q = rect(1, 2, 3, 4);
    mirror_x(&q, 5);
    EXPECT_EQ(q.p[0].x, 9);
    EXPECT_EQ(q.p[1].x, 6);
    mirror_y(&q, 1);
    EXPECT_EQ(q.p[0].y, 0);
    EXPECT_EQ(q.p[2].y, -4);

    const u32 px[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};   // 4 x 3
    std::vector<u32> out(12, 0);
    EXPECT_TRUE(crop(px, 4, 3, 1, 1, 2, 2, out.data()));
    EXPECT_EQ(std::vector<u32>(out.begin(), out.begin() + 4), (std::vector<u32>{6, 7, 10, 11}));
    EXPECT_TRUE(crop(px, 4, 3, 3, 2, 5, 5, out.data()));
    EXPECT_EQ(out[0], 12u) << "cut to the buffer";
    EXPECT_FALSE(crop(px, 4, 3, 4, 0, 1, 1, out.data()));
    EXPECT_FALSE(crop(px, 4, 3, 0, -1, 1, 1, out.data()));
}

std::vector<u32> random_pixels(size_t n, unsigned seed) {
    std::vector<u32> px(n);
    for (u32& p : px) p = u32(seed = seed * 1103515245u + 12345u);
    return px;
}

TEST(ImageGeometry, TransformOntoItsOwnRectangleReproducesTheBuffer) {
    std::vector<u32> px = random_pixels(7 * 5, 42);
    for (float x : {0.0f, 10.0f, -3.0f}) {
        Quad q = rect(x, 2, 7, 5);
        i32 ox = 0, oy = 0, ow = 0, oh = 0;
        u32* out = transform(px.data(), 7, 5, &q, &ox, &oy, &ow, &oh);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(ox, i32(x));
        EXPECT_EQ(oy, 2);
        EXPECT_EQ(ow, 7);
        EXPECT_EQ(oh, 5);
        EXPECT_EQ(std::vector<u32>(out, out + 35), px) << "placed at " << x;
        std::free(out);
    }
    u32* same = resize(px.data(), 7, 5, 7, 5);
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(std::vector<u32>(same, same + 35), px);
    std::free(same);
}

TEST(ImageGeometry, TransformInterpolatesAndLeavesTheOutsideClear) {
    // One channel rising by 100 a column: doubled, the columns between take
    // the mean of their neighbours.
    const u32 px[] = {0, 100, 200, 0, 100, 200};   // 3 x 2
    u32* wide = resize(px, 3, 2, 6, 2);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::vector<u32>(wide, wide + 6), (std::vector<u32>{0, 50, 100, 150, 200, 200}))
        << "the last column has no neighbour to the right";
    std::free(wide);
    // A parallelogram leaning right: its box's corners lie outside it.
    std::vector<u32> white(16, 0xFFFFFFFF);
    Quad lean{{{4, 0}, {8, 0}, {4, 4}, {0, 4}}};
    i32 ox, oy, ow, oh;
    u32* out = transform(white.data(), 4, 4, &lean, &ox, &oy, &ow, &oh);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(ow, 8);
    EXPECT_EQ(oh, 4);
    EXPECT_EQ(out[0], 0u) << "top-left corner of the box: outside";
    EXPECT_EQ(out[3 * 8 + 7], 0u) << "bottom-right corner of the box: outside";
    EXPECT_EQ(out[1 * 8 + 4], 0xFFFFFFFFu) << "inside";
    std::free(out);
}

TEST(ImageGeometry, TransformRefusals) {
    const u32 px[] = {1, 2, 3, 4};
    i32 ox, oy, ow, oh;
    Quad q = rect(0, 0, 2, 2);
    EXPECT_EQ(transform(px, 0, 2, &q, &ox, &oy, &ow, &oh), nullptr) << "an empty source";
    Quad flat = rect(0, 0, 5, 0.5f);
    EXPECT_EQ(transform(px, 2, 2, &flat, &ox, &oy, &ow, &oh), nullptr) << "a box without a row";
    Quad huge = rect(0, 0, 1e30f, 1e30f);
    EXPECT_EQ(transform(px, 2, 2, &huge, &ox, &oy, &ow, &oh), nullptr) << "a box no image could hold";
    float nan = std::numeric_limits<float>::quiet_NaN();
    Quad bad{{{nan, 0}, {2, 0}, {2, 2}, {0, 2}}};
    EXPECT_EQ(transform(px, 2, 2, &bad, &ox, &oy, &ow, &oh), nullptr) << "a corner that is not a number";
    Quad far = rect(3e9f, 0, 2, 2);
    EXPECT_EQ(transform(px, 2, 2, &far, &ox, &oy, &ow, &oh), nullptr) << "beyond 32-bit coordinates";
    EXPECT_EQ(resize(px, 2, 2, 0, 3), nullptr);
}

TEST(ImageGeometry, YuvToRgb) {
    struct Case {
        u8 y, u, v;
        u32 expected;
    } cases[] = {
        {128, 128, 128, 0xFF808080},   // grey
        {76, 85, 255, 0xFF0001FE},     // about red
        {0, 128, 128, 0xFF000000},
        {255, 128, 128, 0xFFFFFFFF},
        {255, 255, 255, 0xFFFF7BFF},   // clamped
    };
    for (const Case& c : cases) {
        const u8 source[] = {c.y, c.u, c.y, c.v};
        u32 out[2] = {};
        yuv_to_rgb(2, 1, source, out);
        EXPECT_EQ(out[0], c.expected) << int(c.y) << " " << int(c.u) << " " << int(c.v);
        EXPECT_EQ(out[1], c.expected);
    }
    // A row of three pixels: the third has a group of its own, and nothing is
    // written past the row.
    const u8 rows[] = {0, 128, 10, 128, 20, 128, 0, 128, 30, 128, 40, 128, 50, 128, 0, 128};
    u32 out[7] = {0, 0, 0, 0, 0, 0, 0xDEADBEEF};
    yuv_to_rgb(3, 2, rows, out);
    EXPECT_EQ(out[0], 0xFF000000u);
    EXPECT_EQ(out[1], 0xFF0A0A0Au);
    EXPECT_EQ(out[2], 0xFF141414u);
    EXPECT_EQ(out[3], 0xFF1E1E1Eu);
    EXPECT_EQ(out[5], 0xFF323232u);
    EXPECT_EQ(out[6], 0xDEADBEEFu);
}

// --- The entry for image! values ----------------------------------------------------------

struct ImageTransform : ValueTest {};

TEST_F(ImageTransform, PointsCropAndMirrors) {
    u32 record = 0;
    const u32 px[] = {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004};
    image_backend::from_memory(2, 2, 0, sizeof px, reinterpret_cast<const u8*>(px), &record);
    Cell* img = image::make_at(stack::push_slot(), record);
    Cell* result = stack::push(none_());
    i32 x, y, w, h;
    // Consecutive cells: the points of each call.
    auto points = [](std::initializer_list<const Cell*> list) {
        Cell* first = stack::top;
        for (const Cell* c : list) stack::push(c);
        return first;
    };

    image::transform(img, result, nullptr, points({pair_(5, 6)}), 1, &x, &y, &w, &h);
    EXPECT_EQ(pixels_of(result), (std::vector<u32>(px, px + 4))) << "one point places the image";
    EXPECT_TRUE(x == 5 && y == 6 && w == 2 && h == 2);

    image::transform(img, result, nullptr, points({pair_(0, 0), point2D::push(4, 2)}), 2, &x, &y, &w, &h);
    EXPECT_EQ(image::width_of(result), 4);
    EXPECT_EQ(pixels_of(result)[0], px[0]);

    image::transform(img, result, nullptr, points({pair_(0, 0), pair_(2, 0), pair_(0, 2)}), 3, &x, &y, &w, &h);
    EXPECT_EQ(pixels_of(result), (std::vector<u32>(px, px + 4))) << "three points: the fourth completes them";

    image::transform(img, result, nullptr, points({pair_(2, 0), pair_(0, 0), pair_(2, 2), pair_(0, 2)}), 4, &x, &y,
                     &w, &h);
    EXPECT_EQ(w, -2) << "mirrored in x: a negative width";
    EXPECT_EQ(h, 2);
    EXPECT_EQ(pixels_of(result), (std::vector<u32>(px, px + 4))) << "mirrored about the top-left corner";

    Cell* crop = points({pair_(1, 0), pair_(5, 5)});
    image::transform(img, result, crop, points({pair_(0, 0)}), 1, &x, &y, &w, &h);
    EXPECT_EQ(pixels_of(result), (std::vector<u32>{px[1], px[3]})) << "the crop cut to the image";
    EXPECT_TRUE(w == 1 && h == 2);

    image::transform(img, result, nullptr, points({pair_(0, 0), pair_(1, 1), pair_(2, 2), pair_(3, 3), pair_(4, 4)}),
                     5, &x, &y, &w, &h);
    EXPECT_EQ(TYPE_OF(result), u32(TYPE_NONE)) << "five points";
    image::transform(img, result, nullptr, points({int_(1)}), 1, &x, &y, &w, &h);
    EXPECT_EQ(TYPE_OF(result), u32(TYPE_NONE)) << "a point that is not one";
}

}  // namespace
}  // namespace zir

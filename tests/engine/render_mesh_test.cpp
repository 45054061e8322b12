// renderMesh: culling, lighting, sorting, clipping and its storage limits.
#include "engine/box.hpp"
#include "engine/render_mesh.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

struct Frame {
    Image image{640, 320};
    Frame() { clear(); }
    void clear()
    {
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                image.row(y)[x] = 0;
    }
    int covered() const
    {
        int n = 0;
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                n += image.row(y)[x] != 0;
        return n;
    }
    std::uint32_t at(int x, int y) const { return image.row(y)[x]; }
};

Camera frameCamera(Vector3 eye)
{
    Camera camera;
    camera.setViewport(320, 160, 320, 160);
    camera.position.value = eye;
    camera.updateView();
    return camera;
}

// A mesh holding one face of a source mesh (same vertices).
struct SingleFace {
    Mesh mesh;
    SingleFace(const Mesh& source, int f)
    {
        mesh.vertices = source.vertices;
        mesh.vertexCount = source.vertexCount;
        mesh.faces = source.faces + f;
        mesh.faceNormals = source.faceNormals + f;
        mesh.faceCount = 1;
        mesh.updateLocalMatrix();
    }
};

Mesh* quads(std::initializer_list<std::array<Vector3, 4>> list)
{
    Mesh* mesh = new Mesh(static_cast<int>(list.size()) * 4, static_cast<int>(list.size()) * 2);
    int q = 0;
    for (const auto& corners : list) {
        for (int k = 0; k < 4; ++k)
            mesh->vertices[4 * q + k] = corners[static_cast<std::size_t>(k)];
        mesh->faces[2 * q] = {{4 * q, 4 * q + 1, 4 * q + 2}, {0, 0, 0}, 0};
        mesh->faces[2 * q + 1] = {{4 * q, 4 * q + 2, 4 * q + 3}, {0, 0, 0}, 0};
        ++q;
    }
    mesh->computeNormals();
    mesh->updateLocalMatrix();
    return mesh;
}

// A square facing an eye on the -z side, at depth z, corners clockwise as seen.
std::array<Vector3, 4> facingSquare(float cx, float cy, float half, float z)
{
    return {Vector3(cx - half, cy - half, z), Vector3(cx - half, cy + half, z), Vector3(cx + half, cy + half, z),
            Vector3(cx + half, cy - half, z)};
}

void destroy(Mesh* mesh)
{
    mesh->freeGeometry();
    delete mesh;
}

} // namespace

TEST(RenderMesh, CubeFromOutsideDrawsItsThreeNearSides)
{
    Mesh* box = makeBox(10, 10, 10);
    box->updateLocalMatrix();
    const Camera camera = frameCamera(Vector3(60, 50, -100));
    PointLight light;
    Frame frame;
    std::vector<int> drawn;
    for (int f = 0; f < 12; ++f) {
        SingleFace one(*box, f);
        frame.clear();
        EXPECT_TRUE(renderMesh(frame.image, camera, one.mesh, light, 0x808080, 0x404040, Gouraud, false));
        if (frame.covered() > 0)
            drawn.push_back(f);
    }
    // +z faces 0, 1 point away from the eye at z = -100; -z, +x and +y face it.
    EXPECT_EQ(drawn, (std::vector<int>{2, 3, 8, 9, 10, 11}));
    destroy(box);
}

TEST(RenderMesh, FacesAwayOrEdgeOnAreNotDrawn)
{
    PointLight light;
    Frame frame;
    // Facing +z: seen from its back by the standard eye.
    Mesh* back = quads({{Vector3(-10, -10, 0), Vector3(10, -10, 0), Vector3(10, 10, 0), Vector3(-10, 10, 0)}});
    renderMesh(frame.image, frameCamera(Vector3(0, 0, -100)), *back, light, 0xFFFFFF, 0xFFFFFF, Gouraud, false);
    EXPECT_EQ(frame.covered(), 0);
    // The plane x = 0 seen edge-on from an eye on it.
    Mesh* edge = quads({{Vector3(0, -10, -10), Vector3(0, 10, -10), Vector3(0, 10, 10), Vector3(0, -10, 10)}});
    renderMesh(frame.image, frameCamera(Vector3(0, 0, -100)), *edge, light, 0xFFFFFF, 0xFFFFFF, Gouraud, false);
    EXPECT_EQ(frame.covered(), 0);
    destroy(back);
    destroy(edge);
}

TEST(Lighting, HeadOnExample)
{
    ClipVertex v{0, 0, 10, 0, 0, 0, 0, 0};
    lightVertex(v, Vector3(0, 0, -1), Vector3(0, 0, 0), 0x203040, 0x404040);
    EXPECT_FLOAT_EQ(v.red, 96);
    EXPECT_FLOAT_EQ(v.green, 112);
    EXPECT_FLOAT_EQ(v.blue, 128);
}

TEST(Lighting, ClampsTo5And250)
{
    ClipVertex lit{0, 0, 10, 0, 0, 0, 0, 0};
    lightVertex(lit, Vector3(0, 0, -1), Vector3(0, 0, 0), 0xFFFFFF, 0x000000);
    EXPECT_EQ(lit.red, 250.0f);
    EXPECT_EQ(lit.blue, 250.0f);
    ClipVertex dark{0, 0, 10, 0, 0, 0, 0, 0};
    lightVertex(dark, Vector3(0, 0, 1), Vector3(0, 0, 0), 0xFFFFFF, 0x000000);
    EXPECT_EQ(dark.red, 5.0f);
    EXPECT_EQ(dark.green, 5.0f);
}

TEST(Lighting, SpecularFallsOffWithReflectionAngle)
{
    // Light 30 degrees off the normal: the reflected ray is 30 degrees off the eye ray.
    const double a = std::numbers::pi / 6;
    ClipVertex v{0, 0, 10, 0, 0, 0, 0, 0};
    lightVertex(v, Vector3(0, 0, -1), Vector3(static_cast<float>(-10 * std::tan(a)), 0, 0), 0x000000, 0xFF00C8);
    EXPECT_NEAR(v.red, 255 * std::pow(std::cos(a), 20), 1e-3);
    EXPECT_NEAR(v.blue, 200 * std::pow(std::cos(a), 20), 1e-3);
    EXPECT_EQ(v.green, 5.0f);
}

TEST(RenderMesh, AdditiveDrawingAddsUpAndSaturates)
{
    Mesh* box = makeBox(20, 15, 10);
    box->rotation.value = Quaternion::fromAxisAngle(1, 1, 0, 0.6f);
    box->updateLocalMatrix();
    const Camera camera = frameCamera(Vector3(0, 0, -100));
    PointLight light;
    Frame once, twice;
    renderMesh(once.image, camera, *box, light, 0x8040A0, 0x303030, GouraudAdditive, false);
    renderMesh(twice.image, camera, *box, light, 0x8040A0, 0x303030, GouraudAdditive, false);
    renderMesh(twice.image, camera, *box, light, 0x8040A0, 0x303030, GouraudAdditive, false);
    ASSERT_GT(once.covered(), 1000);
    int saturated = 0;
    for (int y = 0; y < 320; ++y)
        for (int x = 0; x < 640; ++x)
            for (int shift = 0; shift < 24; shift += 8) {
                const unsigned one = (once.at(x, y) >> shift) & 0xFF;
                const unsigned two = (twice.at(x, y) >> shift) & 0xFF;
                ASSERT_EQ(two, std::min(2 * one, 255u)) << x << "," << y;
                saturated += 2 * one > 255;
            }
    EXPECT_GT(saturated, 0);
    destroy(box);
}

TEST(RenderMesh, DepthSortDrawsFartherFacesOverNearerOnes)
{
    // Near square listed first: unsorted, the list is drawn last to first, so
    // the near one ends on top; sorted, the farther one does.
    Mesh* both = quads({facingSquare(0, 0, 10, -20), facingSquare(5, 5, 10, 0)});
    Mesh* farOnly = quads({facingSquare(5, 5, 10, 0)});
    Mesh* nearOnly = quads({facingSquare(0, 0, 10, -20)});
    const Camera camera = frameCamera(Vector3(0, 0, -100));
    PointLight light;
    light.position.value = Vector3(30, -20, -60);
    Frame sorted, unsorted, far, near;
    renderMesh(sorted.image, camera, *both, light, 0x6080A0, 0xFFFFFF, Gouraud, true);
    renderMesh(unsorted.image, camera, *both, light, 0x6080A0, 0xFFFFFF, Gouraud, false);
    renderMesh(far.image, camera, *farOnly, light, 0x6080A0, 0xFFFFFF, Gouraud, false);
    renderMesh(near.image, camera, *nearOnly, light, 0x6080A0, 0xFFFFFF, Gouraud, false);
    // A pixel inside both squares on screen.
    const int x = 350, y = 135;
    ASSERT_NE(far.at(x, y), 0u);
    ASSERT_NE(far.at(x, y), near.at(x, y));
    EXPECT_EQ(sorted.at(x, y), far.at(x, y));
    EXPECT_EQ(unsorted.at(x, y), near.at(x, y));
    destroy(both);
    destroy(farOnly);
    destroy(nearOnly);
}

TEST(RenderMesh, NearPlaneCutsTrianglesCrossingIt)
{
    // Camera at the origin looking down +z: a floor quad reaching behind the eye.
    PointLight light;
    Camera camera;
    camera.setViewport(320, 160, 320, 160);
    camera.position.value = Vector3(0, 0, 0);
    camera.target.value = Vector3(0, 0, 10);
    camera.updateView();
    Mesh* floor = quads({{Vector3(-5, -2, -10), Vector3(-5, -2, 30), Vector3(5, -2, 30), Vector3(5, -2, -10)}});
    Frame frame;
    EXPECT_TRUE(renderMesh(frame.image, camera, *floor, light, 0x808080, 0x808080, Gouraud, false));
    EXPECT_GT(frame.covered(), 1000);
    EXPECT_EQ(frame.at(320, 20), 0u);   // above the horizon stays empty
    EXPECT_NE(frame.at(320, 300), 0u);  // the floor just in front of the eye
    Mesh* behind = quads({{Vector3(-5, -2, -10), Vector3(-5, -2, 0.5f), Vector3(5, -2, 0.5f), Vector3(5, -2, -10)}});
    frame.clear();
    renderMesh(frame.image, camera, *behind, light, 0x808080, 0x808080, Gouraud, false);
    EXPECT_EQ(frame.covered(), 0);
    destroy(floor);
    destroy(behind);
}

TEST(RenderMesh, OtherModeKeepsThePreviousWriter)
{
    Mesh* box = makeBox(10, 10, 10);
    box->updateLocalMatrix();
    const Camera camera = frameCamera(Vector3(30, 20, -100));
    PointLight light;
    Frame a, b;
    renderMesh(a.image, camera, *box, light, 0x404040, 0, GouraudAdditive, false);
    renderMesh(a.image, camera, *box, light, 0x404040, 0, static_cast<RenderMode>(7), false);
    renderMesh(b.image, camera, *box, light, 0x404040, 0, GouraudAdditive, false);
    renderMesh(b.image, camera, *box, light, 0x404040, 0, GouraudAdditive, false);
    for (int y = 0; y < 320; ++y)
        for (int x = 0; x < 640; ++x)
            ASSERT_EQ(a.at(x, y), b.at(x, y));
    destroy(box);
}

TEST(RenderMesh, MeshesBeyondTheWorkStorageAreRefused)
{
    const Camera camera = frameCamera(Vector3(0, 0, -100));
    PointLight light;
    Frame frame;

    // One vertex too many.
    Mesh wide(renderVertexCapacity + 1, 1);
    for (int i = 0; i < wide.vertexCount; ++i)
        wide.vertices[i] = Vector3(static_cast<float>(i % 7), 0, 0);
    wide.faces[0] = {{0, 1, 2}, {0, 0, 0}, 0};
    wide.faceNormals[0] = Vector3(0, 0, -1);
    wide.updateLocalMatrix();
    EXPECT_FALSE(renderMesh(frame.image, camera, wide, light, 0xFFFFFF, 0, Gouraud, true));

    // One visible face too many: 10,001 small facing triangles.
    const int faces = renderFaceCapacity + 1;
    Mesh many(3, faces);
    many.vertices[0] = Vector3(0, 0, 0);
    many.vertices[1] = Vector3(0, 10, 0);
    many.vertices[2] = Vector3(10, 0, 0);
    for (int f = 0; f < faces; ++f) {
        many.faces[f] = {{0, 1, 2}, {0, 0, 0}, 0};
        many.faceNormals[f] = Vector3(0, 0, -1);
    }
    many.updateLocalMatrix();
    EXPECT_FALSE(renderMesh(frame.image, camera, many, light, 0xFFFFFF, 0, Gouraud, true));
    EXPECT_EQ(frame.covered(), 0);
    // At the limit it draws.
    many.faceCount = renderFaceCapacity;
    EXPECT_TRUE(renderMesh(frame.image, camera, many, light, 0xFFFFFF, 0, Gouraud, true));
    EXPECT_GT(frame.covered(), 0);
    wide.freeGeometry();
    many.freeGeometry();
}

TEST(RenderMesh, ViewportOffTheImageDoesNotWriteOutsideIt)
{
    // The camera's viewport hangs over the right and bottom edges of a small image.
    constexpr int width = 200, height = 100, pitchPixels = 256;
    std::vector<std::uint32_t> memory(static_cast<std::size_t>(pitchPixels * (height + 8)), 0xAB000000u);
    Image image(width, height, pitchPixels * 4, memory.data());
    Camera camera;
    camera.setViewport(180, 90, 320, 160);
    camera.updateView();
    Mesh* box = makeBox(30, 30, 30);
    box->updateLocalMatrix();
    PointLight light;
    renderMesh(image, camera, *box, light, 0x808080, 0x404040, Gouraud, false);
    bool drewInside = false;
    for (int row = 0; row < height + 8; ++row)
        for (int x = 0; x < pitchPixels; ++x) {
            const std::uint32_t p = memory[static_cast<std::size_t>(row * pitchPixels + x)];
            if (row >= height || x >= width) {
                ASSERT_EQ(p, 0xAB000000u) << x << "," << row;
            } else {
                drewInside |= p != 0xAB000000u;
            }
        }
    EXPECT_TRUE(drewInside);
    destroy(box);
}

// renderMesh: culling, lighting, sorting, clipping and its storage limits.
#include "engine/box.hpp"
#include "engine/render_mesh.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

struct Frame {
    Image image{640, 320};
    Frame() { clear(); }
    void clear()
    {
        for (int y = 0; y < 320; ++y)
            for (int x = 0; x < 640; ++x)
                image.row(y)[x] = 0;
    }
    int covered() const
    {
        int n = 0;
        for (int y = 0; y < 320; ++y)
            for (int x = 0; x < 640; ++x)
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

// Two triangles per quad, corners in the order given.
Mesh* quads(std::initializer_list<std::array<Vector3, 4>> list)
{
    const int n = static_cast<int>(list.size());
    Mesh* mesh = new Mesh(4 * n, 2 * n);
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

// A square at depth z facing an eye on the -z side.
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
    Mesh one;  // one face of the box at a time
    one.vertices = box->vertices;
    one.vertexCount = 8;
    one.faceCount = 1;
    one.updateLocalMatrix();
    std::vector<int> drawn;
    for (int f = 0; f < 12; ++f) {
        one.faces = box->faces + f;
        one.faceNormals = box->faceNormals + f;
        frame.clear();
        EXPECT_TRUE(renderMesh(frame.image, camera, one, light, 0x808080, 0x404040, Gouraud, false));
        if (frame.covered() > 0)
            drawn.push_back(f);
    }
    // -z, +x and +y face the eye; +z, -x and -y turn away from it.
    EXPECT_EQ(drawn, (std::vector<int>{2, 3, 8, 9, 10, 11}));
    destroy(box);

    // The plane x = 0 seen edge-on is not drawn either.
    Mesh* edge = quads({{Vector3(0, -10, -10), Vector3(0, 10, -10), Vector3(0, 10, 10), Vector3(0, -10, 10)}});
    frame.clear();
    renderMesh(frame.image, frameCamera(Vector3(0, 0, -100)), *edge, light, 0xFFFFFF, 0xFFFFFF, Gouraud, false);
    EXPECT_EQ(frame.covered(), 0);
    destroy(edge);
}

TEST(Lighting, HeadOnExampleClampsAndHighlight)
{
    const Vector3 towardEye(0, 0, -1);
    ClipVertex v{0, 0, 10, 0, 0, 0, 0, 0};
    lightVertex(v, towardEye, Vector3(0, 0, 0), 0x203040, 0x404040);
    EXPECT_FLOAT_EQ(v.red, 96);
    EXPECT_FLOAT_EQ(v.green, 112);
    EXPECT_FLOAT_EQ(v.blue, 128);
    lightVertex(v, towardEye, Vector3(0, 0, 0), 0xFFFFFF, 0x000000);
    EXPECT_EQ(v.red, 250.0f);
    lightVertex(v, Vector3(0, 0, 1), Vector3(0, 0, 0), 0xFFFFFF, 0x000000);  // facing away
    EXPECT_EQ(v.green, 5.0f);
    // Light 30 degrees off the normal: the reflected ray is 30 degrees off the eye ray.
    const double a = std::numbers::pi / 6;
    lightVertex(v, towardEye, Vector3(static_cast<float>(-10 * std::tan(a)), 0, 0), 0x000000, 0xFF00C8);
    EXPECT_NEAR(v.red, 255 * std::pow(std::cos(a), 20), 1e-3);
    EXPECT_NEAR(v.blue, 200 * std::pow(std::cos(a), 20), 1e-3);
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
    // Any other mode keeps the adding writer.
    renderMesh(twice.image, camera, *box, light, 0x8040A0, 0x303030, static_cast<RenderMode>(7), false);
    ASSERT_GT(once.covered(), 1000);
    int saturated = 0;
    for (int y = 0; y < 320; ++y)
        for (int x = 0; x < 640; ++x)
            for (int shift = 0; shift < 24; shift += 8) {
                const unsigned one = (once.at(x, y) >> shift) & 0xFF;
                ASSERT_EQ((twice.at(x, y) >> shift) & 0xFF, std::min(2 * one, 255u)) << x << "," << y;
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
    const int x = 350, y = 135;  // inside both squares on screen
    ASSERT_NE(far.at(x, y), near.at(x, y));
    EXPECT_EQ(sorted.at(x, y), far.at(x, y));
    EXPECT_EQ(unsorted.at(x, y), near.at(x, y));
    destroy(both);
    destroy(farOnly);
    destroy(nearOnly);
}

TEST(RenderMesh, NearPlaneCutsTrianglesCrossingIt)
{
    Camera camera;  // at the origin looking down +z, over a floor reaching behind it
    camera.setViewport(320, 160, 320, 160);
    camera.position.value = Vector3(0, 0, 0);
    camera.target.value = Vector3(0, 0, 10);
    camera.updateView();
    PointLight light;
    Mesh* floor = quads({{Vector3(-5, -2, -10), Vector3(-5, -2, 30), Vector3(5, -2, 30), Vector3(5, -2, -10)}});
    Frame frame;
    renderMesh(frame.image, camera, *floor, light, 0x808080, 0x808080, Gouraud, false);
    EXPECT_EQ(frame.at(320, 20), 0u);   // above the horizon
    EXPECT_NE(frame.at(320, 300), 0u);  // the floor just in front of the eye
    Mesh* behind = quads({{Vector3(-5, -2, -10), Vector3(-5, -2, 0.5f), Vector3(5, -2, 0.5f), Vector3(5, -2, -10)}});
    frame.clear();
    renderMesh(frame.image, camera, *behind, light, 0x808080, 0x808080, Gouraud, false);
    EXPECT_EQ(frame.covered(), 0);
    destroy(floor);
    destroy(behind);
}

TEST(RenderMesh, MeshesBeyondTheWorkStorageAreRefused)
{
    const Camera camera = frameCamera(Vector3(0, 0, -100));
    PointLight light;
    Frame frame;
    Mesh wide(renderVertexCapacity + 1, 1);  // one vertex too many
    for (int i = 0; i < wide.vertexCount; ++i)
        wide.vertices[i] = Vector3(static_cast<float>(i % 7), 0, 0);
    wide.faces[0] = {{0, 1, 2}, {0, 0, 0}, 0};
    wide.faceNormals[0] = Vector3(0, 0, -1);
    wide.updateLocalMatrix();
    EXPECT_FALSE(renderMesh(frame.image, camera, wide, light, 0xFFFFFF, 0, Gouraud, true));

    Mesh many(3, renderFaceCapacity + 1);  // one facing triangle too many
    many.vertices[0] = Vector3(0, 0, 0);
    many.vertices[1] = Vector3(0, 10, 0);
    many.vertices[2] = Vector3(10, 0, 0);
    for (int f = 0; f < many.faceCount; ++f) {
        many.faces[f] = {{0, 1, 2}, {0, 0, 0}, 0};
        many.faceNormals[f] = Vector3(0, 0, -1);
    }
    many.updateLocalMatrix();
    EXPECT_FALSE(renderMesh(frame.image, camera, many, light, 0xFFFFFF, 0, Gouraud, true));
    EXPECT_EQ(frame.covered(), 0);
    many.faceCount = renderFaceCapacity;
    EXPECT_TRUE(renderMesh(frame.image, camera, many, light, 0xFFFFFF, 0, Gouraud, true));
    EXPECT_GT(frame.covered(), 0);
    wide.freeGeometry();
    many.freeGeometry();
}

TEST(RenderMesh, ViewportOffTheImageDoesNotWriteOutsideIt)
{
    constexpr int width = 200, height = 100, pitchPixels = 256;
    std::vector<std::uint32_t> memory(pitchPixels * (height + 8), 0xAB000000u);
    Image image(width, height, pitchPixels * 4, memory.data());
    Camera camera;
    camera.setViewport(180, 90, 320, 160);  // hangs over the right and bottom edges
    camera.updateView();
    Mesh* box = makeBox(30, 30, 30);
    box->updateLocalMatrix();
    PointLight light;
    renderMesh(image, camera, *box, light, 0x808080, 0x404040, Gouraud, false);
    int inside = 0;
    for (int row = 0; row < height + 8; ++row)
        for (int x = 0; x < pitchPixels; ++x) {
            const bool changed = memory[static_cast<std::size_t>(row * pitchPixels + x)] != 0xAB000000u;
            if (row >= height || x >= width) {
                ASSERT_FALSE(changed) << x << "," << row;
            }
            inside += changed;
        }
    EXPECT_GT(inside, 1000);
    destroy(box);
}

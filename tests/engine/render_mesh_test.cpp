// renderMesh: culling, lighting, sorting, clipping and its storage limits.
#include "checks.hpp"
#include "engine/box.hpp"
#include "engine/render_mesh.hpp"
#include "engine/render_mesh_wide.hpp"
#include "../wide_forms.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <bit>
#include <numbers>

namespace {

Camera frameCamera(Vector3 eye, Vector3 target = Vector3::zero)
{
    Camera camera;
    camera.setViewport(320, 160, 320, 160);
    camera.position.value = eye;
    camera.target.value = target;
    camera.updateView();
    return camera;
}

// Two triangles per quad, corners in the order given.
Mesh* quads(const std::vector<std::array<Vector3, 4>>& list)
{
    const int n = static_cast<int>(list.size());
    Mesh* mesh = new Mesh(4 * n, 2 * n);
    for (int q = 0; q < n; ++q) {
        for (int k = 0; k < 4; ++k)
            mesh->vertices[4 * q + k] = list[static_cast<std::size_t>(q)][static_cast<std::size_t>(k)];
        mesh->faces[2 * q] = {{4 * q, 4 * q + 1, 4 * q + 2}, {0, 0, 0}, 0};
        mesh->faces[2 * q + 1] = {{4 * q, 4 * q + 2, 4 * q + 3}, {0, 0, 0}, 0};
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

PointLight light;

} // namespace

TEST(RenderMesh, CubeFromOutsideDrawsItsThreeNearSides)
{
    forEachForm([&](bool wide) {
        SCOPED_TRACE(wide ? "wide forms" : "16-byte forms");
        Mesh* box = makeBox(10, 10, 10);
        box->updateLocalMatrix();
        const Camera camera = frameCamera(Vector3(60, 50, -100));
        Mesh one;  // one face of the box at a time
        one.vertices = box->vertices;
        one.vertexCount = 8;
        one.faceCount = 1;
        one.updateLocalMatrix();
        std::vector<int> drawn;
        for (int f = 0; f < 12; ++f) {
            one.faces = box->faces + f;
            one.faceNormals = box->faceNormals + f;
            Canvas frame(640, 320, 0);
            EXPECT_TRUE(renderMesh(frame.image, camera, one, light, 0x808080, 0x404040, Gouraud, false));
            if (frame.changed(0) > 0)
                drawn.push_back(f);
        }
        // -z, +x and +y face the eye; +z, -x and -y turn away from it.
        EXPECT_EQ(drawn, (std::vector<int>{2, 3, 8, 9, 10, 11}));
        destroy(box);

        // The plane x = 0 seen edge-on is not drawn either.
        Mesh* edge = quads({{Vector3(0, -10, -10), Vector3(0, 10, -10), Vector3(0, 10, 10), Vector3(0, -10, 10)}});
        Canvas frame(640, 320, 0);
        renderMesh(frame.image, frameCamera(Vector3(0, 0, -100)), *edge, light, 0xFFFFFF, 0xFFFFFF, Gouraud, false);
        EXPECT_EQ(frame.changed(0), 0);
        destroy(edge);
    });
}

TEST(Lighting, HeadOnExampleClampsAndHighlight)
{
    const Vector3 towardEye(0, 0, -1), origin(0, 0, 0);
    ClipVertex v{0, 0, 10, 0, 0, 0, 0, 0};
    lightVertex(v, towardEye, origin, 0x203040, 0x404040);
    EXPECT_FLOAT_EQ(v.red, 96);
    EXPECT_FLOAT_EQ(v.green, 112);
    EXPECT_FLOAT_EQ(v.blue, 128);
    lightVertex(v, towardEye, origin, 0xFFFFFF, 0x000000);
    EXPECT_EQ(v.red, 250.0f);
    lightVertex(v, Vector3(0, 0, 1), origin, 0xFFFFFF, 0x000000);  // facing away
    EXPECT_EQ(v.green, 5.0f);
    // A vertex on the light has no direction to it: unlit, not NaN.
    lightVertex(v, towardEye, Vector3(0, 0, 10), 0xFFFFFF, 0xFFFFFF);
    EXPECT_TRUE(v.red == 5.0f && v.green == 5.0f && v.blue == 5.0f) << v.red;
    // Light 30 degrees off the normal: the reflected ray is 30 degrees off the eye ray.
    const double a = std::numbers::pi / 6;
    lightVertex(v, towardEye, Vector3(static_cast<float>(-10 * std::tan(a)), 0, 0), 0x000000, 0xFF00C8);
    EXPECT_NEAR(v.red, 255 * std::pow(std::cos(a), 20), 1e-3);
    EXPECT_NEAR(v.blue, 200 * std::pow(std::cos(a), 20), 1e-3);
}

TEST(Lighting, PackedArithmeticKeepsTheScalarRoundings)
{
    forEachForm([&](bool wide) {
        SCOPED_TRACE(wide ? "wide forms" : "16-byte forms");
        // The lighting formula one vertex at a time with its float and double
        // roundings; the renderer's packed form must give the same bits.
        const auto scalar = [](const Vector3& p, const Vector3& n, const Vector3& lv, float diffuse, float specular) {
            const Vector3 l = (p - lv).normalised(), view = p.normalised();
            double d = -n.dot(l);
            if (d < 0.0)
                d = 0.0;
            const auto diffuseTerm = static_cast<float>(d);
            const Vector3 r = (n * (2.0f * diffuseTerm) + l).normalised();
            double s = -r.dot(view);
            if (s < 0.0)
                s = 0.0;
            const double s4 = (s * s) * (s * s);
            const auto specularTerm = static_cast<double>(static_cast<float>((s4 * s4) * (s4 * s4) * s4));
            const double v = diffuse * static_cast<double>(diffuseTerm) + specular * specularTerm;
            return v > 250.0 ? 250.0f : v >= 5.0 ? static_cast<float>(v) : 5.0f;
        };
        std::mt19937 random(99);
        std::uniform_real_distribution<float> coordinate(-20.0f, 20.0f);
        // Batches of 1 to 9 vertices, each with its own normal: every lane of
        // the packed form carries its own vertex.
        for (int trial = 0; trial < 400; ++trial) {
            const int count = 1 + trial % 9;
            ClipVertex v[9];
            Vector3 n[9];
            for (int i = 0; i < count; ++i) {
                v[i] = {coordinate(random), coordinate(random), 1.0f + std::fabs(coordinate(random)), 0, 0, 0, 0, 0};
                n[i] = Vector3(coordinate(random), coordinate(random), coordinate(random)).normalised();
            }
            const Vector3 lv(coordinate(random), coordinate(random), coordinate(random));
            const auto red = static_cast<Colour>(random() & 0xFF), blue = static_cast<Colour>(random() & 0xFF);
            lightVertices(v, n, count, lv, red << 16 | 0xFF00, blue);
            for (int i = 0; i < count; ++i) {
                const Vector3 p(v[i].x, v[i].y, v[i].z);
                ASSERT_EQ(std::bit_cast<std::uint32_t>(v[i].red),
                          std::bit_cast<std::uint32_t>(scalar(p, n[i], lv, static_cast<float>(red), 0.0f)))
                    << trial << ' ' << i;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(v[i].green),
                          std::bit_cast<std::uint32_t>(scalar(p, n[i], lv, 255.0f, 0.0f))) << trial << ' ' << i;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(v[i].blue),
                          std::bit_cast<std::uint32_t>(scalar(p, n[i], lv, 0.0f, static_cast<float>(blue))))
                    << trial << ' ' << i;
            }
        }
    });
}

TEST(TriangleSetUp, PackedFixedPointAndGradientsMatchTheOneValueFormulas)
{
    forEachForm([&](bool wide) {
        SCOPED_TRACE(wide ? "wide forms" : "16-byte forms");
        // Truncation toward zero of a double; -2^31 beyond the 32-bit range and for NaN.
        const auto truncated = [](double v) {
            return v >= -2147483648.0 && v < 2147483648.0 ? static_cast<std::int32_t>(v) : INT32_MIN;
        };
        const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
        const float awkward[] = {0.0f, -0.0f, -0.99f, 32767.99998f, -32768.0f, 32768.0f, -32768.01f, 1e-40f,
                                 -1e30f, inf, -inf, nan, 250.0f, 5.0f};
        std::mt19937 random(7);
        std::uniform_real_distribution<float> position(-40000.0f, 40000.0f), colour(5.0f, 250.0f);
        const auto pick = [&](bool odd) { return random() % 4 == 0 && odd ? awkward[random() % 14] : position(random); };
        for (int trial = 0; trial < 3000; ++trial) {
            const bool odd = trial % 3 == 0;
            ShadedCorner c{pick(odd), pick(odd), pick(odd), pick(odd), pick(odd)};
            const RasterVertex v = fixedCorner(c);
            const float values[5] = {c.x, c.y, c.blue, c.green, c.red};
            const std::int32_t got[5] = {v.x, v.y, v.blue, v.green, v.red};
            for (int k = 0; k < 5; ++k)
                ASSERT_EQ(got[k], truncated(static_cast<double>(values[k]) * 65536.0)) << values[k];
        }
        // Triangles each their own, some without area (d = 0) and some with
        // corners far off the screen.
        const auto reference = [&](const ShadedCorner* t) {
            const double x10 = static_cast<double>(t[1].x) - t[0].x, y10 = static_cast<double>(t[1].y) - t[0].y;
            const double x20 = static_cast<double>(t[2].x) - t[0].x, y20 = static_cast<double>(t[2].y) - t[0].y;
            const double d = x10 * y20 - x20 * y10;
            std::array<std::int32_t, 6> g{};
            for (int ch = 0; ch < 3; ++ch) {
                const auto c = [&](int k) { return ch == 0 ? t[k].blue : ch == 1 ? t[k].green : t[k].red; };
                const double c10 = static_cast<double>(c(1)) - c(0), c20 = static_cast<double>(c(2)) - c(0);
                g[ch] = truncated((c10 * y20 - c20 * y10) * 65536.0 / d);
                g[3 + ch] = truncated((c20 * x10 - c10 * x20) * 65536.0 / d);
            }
            return g;
        };
        const auto asArray = [](const ColourGradients& g) {
            return std::array<std::int32_t, 6>{g.dBdx, g.dGdx, g.dRdx, g.dBdy, g.dGdy, g.dRdy};
        };
        // The wide form takes four triangles at once, the 16-byte one two.
        for (int trial = 0; trial < 3000; ++trial) {
            ShadedCorner t[4][3];
            for (auto& triangle : t) {
                const float scale = trial % 5 == 0 ? 1e6f : 400.0f;
                for (ShadedCorner& c : triangle)
                    c = {position(random) * scale / 40000.0f, position(random) * scale / 40000.0f, colour(random),
                         colour(random), colour(random)};
            }
            if (trial % 7 == 0)
                t[1 + trial % 3][2] = t[1 + trial % 3][1];  // no area
            ColourGradients g[4];
            if (wide) {
                // Rows, lane k for triangle k: the steps, and the corners
                // as fixedCorner gives them.
                const ShadedCorner* const corners[4] = {t[0], t[1], t[2], t[3]};
                TriangleRows rows;
                wide::triangleRows(corners, rows);
                alignas(16) std::int32_t lanes[21][4];
                const __m128i* fields[21] = {&rows.dBdx, &rows.dGdx, &rows.dRdx, &rows.dBdy, &rows.dGdy, &rows.dRdy};
                for (int c = 0; c < 3; ++c) {
                    fields[6 + 5 * c] = &rows.x[c];
                    fields[7 + 5 * c] = &rows.y[c];
                    fields[8 + 5 * c] = &rows.blue[c];
                    fields[9 + 5 * c] = &rows.green[c];
                    fields[10 + 5 * c] = &rows.red[c];
                }
                for (int f = 0; f < 21; ++f)
                    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[f]), *fields[f]);
                for (int k = 0; k < 4; ++k) {
                    g[k] = {lanes[0][k], lanes[1][k], lanes[2][k], lanes[3][k], lanes[4][k], lanes[5][k]};
                    for (int c = 0; c < 3; ++c) {
                        const RasterVertex v = fixedCorner(t[k][c]);
                        ASSERT_EQ((std::array<std::int32_t, 5>{lanes[6 + 5 * c][k], lanes[7 + 5 * c][k], lanes[8 + 5 * c][k],
                                                               lanes[9 + 5 * c][k], lanes[10 + 5 * c][k]}),
                                  (std::array<std::int32_t, 5>{v.x, v.y, v.blue, v.green, v.red}))
                            << trial << ' ' << k << ' ' << c;
                    }
                }
            } else {
                colourGradients(t[0], t[1], g[0], g[1]);
                colourGradients(t[2], t[3], g[2], g[3]);
            }
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ(asArray(g[k]), reference(t[k])) << trial << ' ' << k;
            colourGradients(t[1], t[1], g[1], g[1]);
            ASSERT_EQ(asArray(g[1]), reference(t[1])) << trial;
        }
    });
}

TEST(RenderMesh, AdditiveDrawingAddsUpSaturatesAndStaysOnTheImage)
{
    forEachForm([&](bool wide) {
        SCOPED_TRACE(wide ? "wide forms" : "16-byte forms");
        // The viewport hangs over the right and bottom edges of a 200 x 100 image.
        Mesh* box = makeBox(20, 15, 10);
        box->rotation.value = Quaternion::fromAxisAngle(1, 1, 0, 0.6f);
        box->updateLocalMatrix();
        Camera camera = frameCamera(Vector3(0, 0, -100));
        camera.setViewport(150, 70, 320, 160);
        Canvas once(200, 100, 0), twice(200, 100, 0);
        renderMesh(once.image, camera, *box, light, 0x8040A0, 0x303030, GouraudAdditive, false);
        renderMesh(twice.image, camera, *box, light, 0x8040A0, 0x303030, GouraudAdditive, false);
        // Any other mode keeps the adding writer.
        renderMesh(twice.image, camera, *box, light, 0x8040A0, 0x303030, static_cast<RenderMode>(7), false);
        ASSERT_GT(once.changed(0), 1000);
        EXPECT_GT(twice.changed(0), 1000);
        int saturated = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 200; ++x)
                for (int shift = 0; shift < 24; shift += 8) {
                    const unsigned one = (once.at(x, y) >> shift) & 0xFF;
                    ASSERT_EQ((twice.at(x, y) >> shift) & 0xFF, std::min(2 * one, 255u)) << x << "," << y;
                    saturated += 2 * one > 255;
                }
        EXPECT_GT(saturated, 0);
        destroy(box);
    });
}

TEST(RenderMesh, CornersAFlatSideSharesDrawAsIfLitForEachTriangle)
{
    forEachForm([&](bool wide) {
        SCOPED_TRACE(wide ? "wide forms" : "16-byte forms");
        // Squares of two triangles with the same normal and two common
        // corners, some over the image's edges: drawn with each square's
        // triangles one after the other, which light their common corners
        // once, and with them apart, which light every corner. Additive
        // drawing adds up in any order, so the pictures must agree.
        std::mt19937 random(5);
        std::uniform_real_distribution<float> centre(-90.0f, 90.0f), size(2.0f, 25.0f), depth(-30.0f, 30.0f);
        std::vector<std::array<Vector3, 4>> squares;
        for (int i = 0; i < 70; ++i)
            squares.push_back(facingSquare(centre(random), centre(random) * 0.5f, size(random), depth(random)));
        const Camera camera = frameCamera(Vector3(0, 0, -100));
        const auto draw = [&](bool apart, Canvas& frame) {
            Mesh* mesh = quads(squares);
            if (apart) {
                // First triangles of all squares, then all second ones.
                const int n = mesh->faceCount / 2;
                std::vector<Face> faces(mesh->faces, mesh->faces + mesh->faceCount);
                std::vector<Vector3> normals(mesh->faceNormals, mesh->faceNormals + mesh->faceCount);
                for (int f = 0; f < mesh->faceCount; ++f) {
                    const int from = f < n ? 2 * f : 2 * (f - n) + 1;
                    mesh->faces[f] = faces[static_cast<std::size_t>(from)];
                    mesh->faceNormals[f] = normals[static_cast<std::size_t>(from)];
                }
            }
            mesh->rotation.value = Quaternion::fromAxisAngle(0.3f, 1, 0.2f, 0.5f);
            mesh->updateLocalMatrix();
            renderMesh(frame.image, camera, *mesh, light, 0x605040, 0xA0C0FF, GouraudAdditive, false);
            destroy(mesh);
        };
        Canvas together(640, 320, 0), apart(640, 320, 0);
        draw(false, together);
        draw(true, apart);
        ASSERT_GT(together.changed(0), 20000);
        for (int y = 0; y < 320; ++y)
            for (int x = 0; x < 640; ++x)
                ASSERT_EQ(together.at(x, y), apart.at(x, y)) << x << "," << y;
    });
}

TEST(RenderMesh, DepthSortDrawsFartherFacesOverNearerOnes)
{
    forEachForm([&](bool wide) {
        SCOPED_TRACE(wide ? "wide forms" : "16-byte forms");
        // Squares listed near to far. Unsorted, the list is drawn last to first,
        // so the nearest ends on top; sorted, the farthest does. Few and many
        // faces, as a small sort and a long one may take different paths.
        light.position.value = Vector3(30, -20, -60);
        const Camera camera = frameCamera(Vector3(0, 0, -100));
        for (const int n : {2, 40}) {
            std::vector<std::array<Vector3, 4>> squares;
            for (int i = 0; i < n; ++i)
                squares.push_back(facingSquare(static_cast<float>(i % 7), static_cast<float>(i % 5), 10,
                                               -20 + 20.0f * static_cast<float>(i) / static_cast<float>(n - 1)));
            // The pixel at (335, 150), inside every square on screen.
            const auto draw = [&](const std::vector<std::array<Vector3, 4>>& list, bool sort) {
                Mesh* mesh = quads(list);
                Canvas frame(640, 320, 0);
                renderMesh(frame.image, camera, *mesh, light, 0x6080A0, 0xFFFFFF, Gouraud, sort);
                destroy(mesh);
                return frame.at(335, 150);
            };
            const std::uint32_t far = draw({squares.back()}, false), near = draw({squares.front()}, false);
            ASSERT_NE(far, near);
            EXPECT_EQ(draw(squares, true), far) << n;
            EXPECT_EQ(draw(squares, false), near) << n;
        }
        light.position.value = Vector3(100, 100, -100);
    });
}

TEST(RenderMesh, NearPlaneCutsTrianglesCrossingIt)
{
    forEachForm([&](bool wide) {
        SCOPED_TRACE(wide ? "wide forms" : "16-byte forms");
        // At the origin looking down +z, over a floor reaching behind the eye.
        const Camera camera = frameCamera(Vector3(0, 0, 0), Vector3(0, 0, 10));
        Mesh* floor = quads({{Vector3(-5, -2, -10), Vector3(-5, -2, 30), Vector3(5, -2, 30), Vector3(5, -2, -10)}});
        Mesh* behind = quads({{Vector3(-5, -2, -10), Vector3(-5, -2, 0.5f), Vector3(5, -2, 0.5f), Vector3(5, -2, -10)}});
        Canvas frame(640, 320, 0), nothing(640, 320, 0);
        renderMesh(frame.image, camera, *floor, light, 0x808080, 0x808080, Gouraud, false);
        EXPECT_EQ(frame.at(320, 20), 0u);   // above the horizon
        EXPECT_NE(frame.at(320, 300), 0u);  // the floor just in front of the eye
        renderMesh(nothing.image, camera, *behind, light, 0x808080, 0x808080, Gouraud, false);
        EXPECT_EQ(nothing.changed(0), 0);
        destroy(floor);
        destroy(behind);
    });
}

TEST(RenderMesh, SmallMeshesWhollyOutsideTheViewAreDroppedAndNoOthers)
{
    forEachForm([&](bool wide) {
        SCOPED_TRACE(wide ? "wide forms" : "16-byte forms");
        // Boxes all round the edges and corners of the view, behind the eye
        // and across the near plane: each draws what the same box draws
        // when it carries enough unused vertices to skip the whole-mesh
        // test, so that test never drops a triangle the clipper would keep.
        const Camera camera = frameCamera(Vector3(0, 0, -100));
        Mesh* box = makeBox(6, 4, 5);
        Mesh* padded = new Mesh(80, 4, 12);
        for (int i = 0; i < 80; ++i)
            padded->vertices[i] = box->vertices[i < 8 ? i : 0];
        std::copy(box->faces, box->faces + 12, padded->faces);
        padded->computeNormals();
        std::mt19937 random(31);
        int dropped = 0, drawn = 0;
        for (int trial = 0; trial < 400; ++trial) {
            const auto coordinate = [&](float range) {
                return static_cast<float>(static_cast<int>(random() % 2001) - 1000) * range / 1000.0f;
            };
            const Vector3 at(coordinate(140.0f), coordinate(80.0f), coordinate(120.0f));
            for (Mesh* mesh : {box, padded}) {
                mesh->position.value = at;
                mesh->rotation.value = Quaternion::fromAxisAngle(0.3f, 1.0f, 0.2f, static_cast<float>(trial) * 0.7f);
                mesh->updateLocalMatrix();
            }
            Canvas small(640, 320, 0), large(640, 320, 0);
            renderMesh(small.image, camera, *box, light, 0x806040, 0x404040, GouraudAdditive, false);
            renderMesh(large.image, camera, *padded, light, 0x806040, 0x404040, GouraudAdditive, false);
            ASSERT_EQ(small.memory, large.memory) << "box at " << at.x << ", " << at.y << ", " << at.z;
            (small.changed(0) > 0 ? drawn : dropped) += 1;
        }
        EXPECT_GT(drawn, 50);
        EXPECT_GT(dropped, 50);
        destroy(box);
        destroy(padded);
    });
}

TEST(RenderMesh, MeshesBeyondTheWorkStorageAreRefused)
{
    forEachForm([&](bool wide) {
        SCOPED_TRACE(wide ? "wide forms" : "16-byte forms");
        const Camera camera = frameCamera(Vector3(0, 0, -100));
        Canvas frame(640, 320, 0);
        // One facing triangle, repeated; all vertices but the first three unused.
        const auto triangles = [](int vertices, int faces) {
            Mesh* mesh = new Mesh(vertices, faces);
            for (int i = 0; i < vertices; ++i)
                mesh->vertices[i] = Vector3(i % 3 == 2 ? 10.0f : 0.0f, i % 3 == 1 ? 10.0f : 0.0f, 0);
            for (int f = 0; f < faces; ++f)
                mesh->faces[f] = {{0, 1, 2}, {0, 0, 0}, 0};
            mesh->computeNormals();
            mesh->updateLocalMatrix();
            return mesh;
        };
        Mesh* tooManyVertices = triangles(renderVertexCapacity + 1, 1);
        Mesh* many = triangles(3, renderFaceCapacity + 1);
        EXPECT_FALSE(renderMesh(frame.image, camera, *tooManyVertices, light, 0xFFFFFF, 0, Gouraud, true));
        EXPECT_FALSE(renderMesh(frame.image, camera, *many, light, 0xFFFFFF, 0, Gouraud, true));
        EXPECT_EQ(frame.changed(0), 0);
        many->faceCount = renderFaceCapacity;
        EXPECT_TRUE(renderMesh(frame.image, camera, *many, light, 0xFFFFFF, 0, Gouraud, true));
        EXPECT_GT(frame.changed(0), 0);
        destroy(tooManyVertices);
        destroy(many);
    });
}

TEST(RenderMesh, WideFormsDrawTheSamePicturesAsThe16ByteOnes)
{
    // Random meshes: odd and even numbers of vertices and faces (the lanes
    // end part-filled), more faces than one lit batch and than the short
    // sort, faces turned either way, flat sides (pairs sharing a normal),
    // corners behind the eye and beyond the sides of the view, both writers,
    // sorted and not. Each drawn with the wide forms and without.
    const RestoreWideForms restore;
    if (!useWideVectors(true))
        GTEST_SKIP() << "no wide forms on this machine";
    const Camera camera = frameCamera(Vector3(0, 0, -60));
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> coordinate(-50.0f, 50.0f), unit(0.0f, 1.0f);
    int drawnPixels = 0;
    for (int trial = 0; trial < 60; ++trial) {
        const int vertexCount = 3 + trial % 7 + (trial % 4 == 0 ? 200 : 0);
        const int quadCount = trial % 3;
        const int faceCount = 1 + trial % 5 + (trial % 6 == 1 ? 150 : 0);
        Mesh* mesh = new Mesh(vertexCount + 4 * quadCount, faceCount + 2 * quadCount);
        for (int i = 0; i < vertexCount; ++i)
            mesh->vertices[i] = Vector3(coordinate(random), coordinate(random), coordinate(random) * 1.5f);
        for (int f = 0; f < faceCount; ++f)
            mesh->faces[f] = {{static_cast<std::int32_t>(random() % static_cast<unsigned>(vertexCount)),
                               static_cast<std::int32_t>(random() % static_cast<unsigned>(vertexCount)),
                               static_cast<std::int32_t>(random() % static_cast<unsigned>(vertexCount))},
                              {0, 0, 0},
                              0};
        for (int q = 0; q < quadCount; ++q) {
            const std::array<Vector3, 4> square =
                facingSquare(coordinate(random), coordinate(random), 5 + 10 * unit(random), coordinate(random));
            const int v = vertexCount + 4 * q, f = faceCount + 2 * q;
            for (int k = 0; k < 4; ++k)
                mesh->vertices[v + k] = square[static_cast<std::size_t>(k)];
            mesh->faces[f] = {{v, v + 1, v + 2}, {0, 0, 0}, 0};
            mesh->faces[f + 1] = {{v, v + 2, v + 3}, {0, 0, 0}, 0};
        }
        mesh->computeNormals();
        mesh->rotation.value = Quaternion::fromAxisAngle(unit(random), unit(random), 1, 6 * unit(random));
        mesh->updateLocalMatrix();
        light.position.value = Vector3(coordinate(random), coordinate(random), coordinate(random));
        const RenderMode mode = trial % 2 == 0 ? Gouraud : GouraudAdditive;
        const bool sort = trial % 4 < 2;
        Canvas narrow(640, 320, 0x00302010), wide(640, 320, 0x00302010);
        useWideVectors(false);
        const bool drawnNarrow = renderMesh(narrow.image, camera, *mesh, light, 0x9060C0, 0x50A030, mode, sort);
        useWideVectors(true);
        const bool drawnWide = renderMesh(wide.image, camera, *mesh, light, 0x9060C0, 0x50A030, mode, sort);
        EXPECT_TRUE(drawnNarrow && drawnWide) << trial;
        ASSERT_EQ(narrow.memory, wide.memory) << "trial " << trial;
        drawnPixels += wide.changed(0x00302010);
        destroy(mesh);
    }
    light.position.value = Vector3(100, 100, -100);
    EXPECT_GT(drawnPixels, 100000);
}

TEST(RenderMesh, ABoxDrawnOverAndOverDrawsWhatEachCallAloneDraws)
{
    // The wide forms keep a small mesh's unit normals from one call to the
    // next while its face normals and turn stay the same: a grid of moved
    // boxes, then the box turned, then its normals changed in place without
    // a turn (a stale copy would light and cull it wrongly).
    const RestoreWideForms restore;
    if (!useWideVectors(true))
        GTEST_SKIP() << "no wide forms on this machine";
    const Camera camera = frameCamera(Vector3(0, 40, -120));
    Mesh* box = makeBox(6, 2, 6);
    Canvas narrow(640, 320, 0x00102030), wide(640, 320, 0x00102030);
    const auto drawGrid = [&](Canvas& canvas) {
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 4; ++j) {
                box->position.value = Vector3(-40.0f + 20.0f * i, -10.0f + 5.0f * j, 15.0f * j);
                box->updateLocalMatrix();
                renderMesh(canvas.image, camera, *box, light, 0x204060 + 0x101010 * static_cast<Colour>(i + j),
                           0xC0C0C0, GouraudAdditive, false);
            }
    };
    const auto both = [&](const char* stage) {
        useWideVectors(false);
        drawGrid(narrow);
        useWideVectors(true);
        drawGrid(wide);
        ASSERT_EQ(narrow.memory, wide.memory) << stage;
    };
    both("moved");
    box->rotation.value = Quaternion::fromAxisAngle(0, 1, 0, 0.4f);
    both("turned");
    for (int f = 0; f < box->faceCount; ++f)
        box->faceNormals[f] = Vector3(-box->faceNormals[f].x, box->faceNormals[f].y, -box->faceNormals[f].z);
    both("normals changed in place");
    EXPECT_GT(wide.changed(0x00102030), 5000);
    destroy(box);
}

TEST(WideSetUp, VerticesAndCornersMatchTheOneVertexFormulas)
{
    // The four-lane vertex transform, vertex work and corner lighting
    // against the one-vertex formulas, bit for bit: odd counts (the last lane
    // repeated), vertices listed twice, on the light and on the eye (no direction: NaN), on the
    // planes of the view pyramid, behind the eye and at z = 0.
    if (!wideVectors())
        GTEST_SKIP() << "no wide forms on this machine";
    const auto bits = [](const Vector3& v) {
        return std::array<std::uint32_t, 3>{std::bit_cast<std::uint32_t>(v.x), std::bit_cast<std::uint32_t>(v.y),
                                            std::bit_cast<std::uint32_t>(v.z)};
    };
    const auto bitsOf = [](float f) { return std::bit_cast<std::uint32_t>(f); };
    Camera camera = frameCamera(Vector3(0, 0, -100));
    camera.setViewport(321.5f, 159.25f, 300.75f, 170.5f);
    const Vector3 lv(3.5f, -7.25f, 12.0f);
    std::mt19937 random(31);
    std::uniform_real_distribution<float> coordinate(-30.0f, 30.0f);
    for (int trial = 0; trial < 300; ++trial) {
        const int count = 1 + trial % 13;
        Vector3 points[13];
        alignas(16) float view[13 * 4];
        for (int i = 0; i < count; ++i) {
            const float x = coordinate(random), y = coordinate(random), z = coordinate(random);
            switch ((trial + i) % 8) {
            case 0: points[i] = lv; break;
            case 1: points[i] = Vector3(0, 0, 0); break;
            case 2: points[i] = Vector3(z, y, z); break;   // on the right plane
            case 3: points[i] = Vector3(x, -z, z); break;  // on the bottom plane
            case 4: points[i] = Vector3(x, y, 0); break;
            case 5: points[i] = Vector3(x, y, 1); break;   // on the near plane
            default: points[i] = Vector3(x, y, z);
            }
        }
        const Matrix m = multiply(camera.viewMatrix, Matrix::fromAxisAngle(1, 2, 3, 0.1f * static_cast<float>(trial)));
        wide::transformVertices(points, count, m, view);
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(bits(Vector3(view[4 * i], view[4 * i + 1], view[4 * i + 2])), bits(transformPoint(m, points[i])))
                << trial << ' ' << i;
        // The work of the points themselves as view positions, some listed twice.
        for (int i = 0; i < count; ++i) {
            view[4 * i] = points[i].x;
            view[4 * i + 1] = points[i].y;
            view[4 * i + 2] = points[i].z;
        }
        std::int32_t list[14];
        for (int k = 0; k < count; ++k)
            list[k] = count - 1 - k;
        const int listed = count + (trial % 2);
        list[count] = trial % count;
        VertexWork work[13];
        wide::vertexWorkOf(list, listed, view, lv, camera, work);
        for (int i = 0; i < count; ++i) {
            const Vector3& p = points[i];
            const VertexWork& w = work[i];
            ASSERT_EQ(bits(w.fromLight), bits((p - lv).normalised())) << trial << ' ' << i;
            ASSERT_EQ(bits(w.fromEye), bits(p.normalised())) << trial << ' ' << i;
            const float inverse = static_cast<float>(1.0 / static_cast<double>(p.z));
            ASSERT_EQ(bitsOf(w.screenX), bitsOf(static_cast<float>(static_cast<double>(p.x) * inverse * camera.scaleX +
                                                                   camera.centerX)))
                << trial << ' ' << i;
            ASSERT_EQ(bitsOf(w.screenY), bitsOf(static_cast<float>(camera.centerY - static_cast<double>(p.y) *
                                                                                        inverse * camera.scaleY)))
                << trial << ' ' << i;
            ASSERT_EQ(w.outside, outsidePlanes({p.x, p.y, p.z, 0, 0, 0, 0, 0})) << trial << ' ' << i;
        }
        // The corners lit from that work, listed last to first and the last
        // repeated to fill four lanes: each corner takes its own vertex's
        // screen position and the colours lightVertex gives it.
        VisibleFace faces[13]{};
        ShadedCorner corners[13]{};
        CornerToShade lanes[16];
        for (int i = 0; i < count; ++i)
            faces[i].normal = Vector3(coordinate(random), coordinate(random), coordinate(random)).normalised();
        const int laneCount = (count + 3) / 4 * 4;
        for (int k = 0; k < laneCount; ++k) {
            const int i = k < count ? count - 1 - k : 0;
            lanes[k] = {&faces[i].normal, &work[i], &corners[i]};
        }
        const double diffuse[3] = {200, 120, 40}, specular[3] = {255, 0, 90};
        wide::shadeCorners(lanes, laneCount, diffuse, specular);
        for (int i = 0; i < count; ++i) {
            ClipVertex lit{points[i].x, points[i].y, points[i].z, 0, 0, 0, 0, 0};
            lightVertex(lit, faces[i].normal, lv, 0xC87828u, 0xFF005Au);
            const ShadedCorner& c = corners[i];
            ASSERT_EQ(bitsOf(c.x), bitsOf(work[i].screenX)) << trial << ' ' << i;
            ASSERT_EQ(bitsOf(c.y), bitsOf(work[i].screenY)) << trial << ' ' << i;
            ASSERT_EQ(bits(Vector3(c.red, c.green, c.blue)), bits(Vector3(lit.red, lit.green, lit.blue)))
                << trial << ' ' << i;
        }
    }
}

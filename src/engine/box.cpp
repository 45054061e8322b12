#include "engine/box.hpp"

namespace {

// Signs of x, y, z per vertex.
constexpr int corner[8][3] = {
    {-1, -1, +1}, {-1, +1, +1}, {+1, -1, +1}, {+1, +1, +1},
    {-1, -1, -1}, {-1, +1, -1}, {+1, -1, -1}, {+1, +1, -1},
};

// Two triangles per side: +z, +x, -y, -x, +y, -z.
constexpr int faceVertices[12][3] = {
    {2, 1, 0}, {2, 3, 1}, {6, 3, 2}, {6, 7, 3}, {4, 2, 0}, {4, 6, 2},
    {1, 4, 0}, {5, 4, 1}, {3, 5, 1}, {7, 5, 3}, {5, 6, 4}, {7, 6, 5},
};

constexpr int faceTexCoords[2][3] = {{1, 2, 0}, {1, 3, 2}};

} // namespace

Mesh* makeBox(float sx, float sy, float sz)
{
    Mesh* box = new Mesh(8, 4, 12);
    for (int i = 0; i < 8; ++i)
        box->vertices[i] = Vector3(static_cast<float>(corner[i][0]) * sx, static_cast<float>(corner[i][1]) * sy,
                                   static_cast<float>(corner[i][2]) * sz);
    box->texCoords[0] = {0.0f, 0.0f};
    box->texCoords[1] = {255.0f, 0.0f};
    box->texCoords[2] = {0.0f, 255.0f};
    box->texCoords[3] = {255.0f, 255.0f};
    for (int f = 0; f < 12; ++f) {
        Face& face = box->faces[f];
        for (int k = 0; k < 3; ++k) {
            face.v[k] = faceVertices[f][k];
            face.t[k] = faceTexCoords[f % 2][k];
        }
        face.flags = 0;
    }
    box->computeNormals();
    return box;
}

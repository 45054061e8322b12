// A triangulated sphere made from an octahedron whose faces are split into
// four, level after level, each new vertex pushed out onto the sphere.
#pragma once

#include "engine/mesh.hpp"

// Vertex and face counts after `levels` subdivisions: 6 / 8, then each level
// adds one vertex per edge (faces x 3 / 2) and multiplies the faces by 4.
int geosphereVertexCount(int levels);
int geosphereFaceCount(int levels);

// A new mesh, allocated once at its final size, with normals and bounding
// box computed. The octahedron's equator sits at radius x 0.707 x sqrt 2
// (0.99985 of the radius); every vertex made by subdivision lies on the
// radius exactly. The caller owns the mesh.
Mesh* makeGeosphere(float radius, int levels);

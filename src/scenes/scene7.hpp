// The dented-sphere scene's pieces that the tests share: the repellers that
// dent the sphere, the dashed scan lines and the greeting fade.
#pragma once

#include "engine/math.hpp"
#include "engine/mesh.hpp"
#include "image/image.hpp"

struct Repeller {
    Vector3 position;
    float strength;  // negative pushes vertices away
};

// out[i] = rest[i] + sum over the repellers of
// (position - rest[i]) x strength / (|position - rest[i]|^2 + 800).
void applyRepellers(const Vector3* rest, Vector3* out, int count, const Repeller* repellers, int repellerCount);

namespace wide {
// applyRepellers four vertices at a time with AVX2 (scene7_avx2.cpp, x86-64
// only), which applyRepellers takes where wideVectors() holds.
void applyRepellers(const Vector3* rest, Vector3* out, int count, const Repeller* repellers, int repellerCount);
} // namespace wide

// The four repeller positions at scene time T, each 120 from the centre.
void placeRepellers(Repeller* repellers, float T);

// Dashes on every 32nd row from row 16, running in from both edges while the
// pixel 32 further on still shows the background (the look-ahead keeps the
// dashes short of anything drawn). Reads one pixel past the row's end, in
// the next row, so the frame must hold row 305.
void drawScanLines(Image& frame);

// The red, green and blue factors of one smear: three fresh values e1, e2,
// e3 from nextNoise, in that order, give 0.1 + 0.09 x (e3, e2, e1).
struct SmearFactors {
    float red, green, blue;
};
SmearFactors drawSmearFactors();

// 0 before 0, 1 after 1, sin^2(x pi / 2) between.
float greetingFade(float x);

// The sphere the repellers dent, rewritten every frame (shares faces and
// normals with its rest shape).
extern Mesh* dentMesh;

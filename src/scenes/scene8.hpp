// The closing scene's cube records and their depth sort, shared with the tests.
#pragma once

#include "engine/math.hpp"
#include "image/image.hpp"

struct CubeRecord {
    float sortKey;  // 1 / depth in view space: larger is nearer
    Colour colour;
    Vector3 position;
    Vector3 scale;
    Quaternion rotation;
};

// Two halves of 400 records each: the sort copies between them and ends in
// the first. The 5 x 5 x 5 lattice fills at most 125.
constexpr int cubeRecordHalf = 400;
extern CubeRecord cubeRecords[2 * cubeRecordHalf];

// Appends a record to the first half for every lattice cube in front of the
// camera (view z > 0), in generation order i, j, k; returns the count.
// T is the scene time / 4, a the colour fade.
int collectLatticeCubes(const Matrix& view, float T, float a);

// Stable least-significant-byte radix sort of the first count records on
// the bits of sortKey: farthest first, equal keys in generation order.
void sortCubeRecords(int count);

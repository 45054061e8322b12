// The rhythm-disc scene's pieces that the tests look at.
#pragma once

#include "image/image.hpp"

// The discs' turn in radians, carried from frame to frame and across the
// scene's entries; 0 at program start.
extern double rhythmPhase;

struct StreakCentre {
    float x, y;
};

// Where the streaks start while the music plays `row` of its pattern: on the
// discs' circle of this radius, a third of a turn further every eight rows
// (the same place again after 24), sine and cosine swapped against the discs
// so that it runs round the other way.
StreakCentre streakCentre(int row, double phase, double radius);

// sin²(pi x) on 0..1, else 0: a text line's rise and fall.
double textBump(double x);

// Everything but the poem and the row light: the discs, their streaks, the
// ring path and the sphere column, at scene time t with frame time dt;
// q (0..1) scales every colour. Advances rhythmPhase.
void drawRhythmLayers(Image& frame, float t, float dt, float q);

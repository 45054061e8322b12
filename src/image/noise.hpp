// The integer-hash noise behind the row light and several textures.
#pragma once

// Hash noise in (-1, 1], a pure function of n.
double noise(int n);

// noise() of a program-wide counter that starts at 0, then counts up.
double nextNoise();

// Restarts the counter of nextNoise() (for tests and repeatable start-ups).
void resetNextNoise();

// noise() between integers with a cosine weight; exact at integers.
double smoothNoise(float x);

// Below 0 (or not a number) gives 0, above 1 gives 1.
float clampUnit(float value);

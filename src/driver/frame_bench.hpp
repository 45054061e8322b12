// The renderer's benchmark report: drawing times per scene as multiples of
// one 640 x 320 frame copy measured in the same run, and in milliseconds.
// morvane-render and the page's bench mode print the same lines.
#pragma once

#include "scenes/scenes.hpp"

#include <vector>

// Drawing time: the thread's CPU clock where there is one, so that time the
// machine gives to other processes does not count; a browser has only the
// monotonic clock.
double cpuMilliseconds();

struct Percentiles {
    double median;
    double p95;
};
Percentiles percentiles(std::vector<double>& values);  // sorts values

// Median time of one memcpy of a 640 x 320 frame, the unit of the benchmark.
double measureFrameCopy(int samples);

int sceneNumber(SceneFunc scene);  // 1..8, 0 for none

void printBenchLine(const char* name, std::vector<double>& times, double copyMs);

// The copy line, one line per scene and the whole show's.
void printBenchReport(const std::vector<double>& frameMs, const std::vector<int>& frameScene, double copyMs);

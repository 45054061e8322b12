// The show's timeline and the one piece of code that steps it. The live
// frame loop and the offline renderer both call stepTimeline, so the same
// clock readings give the same scene calls.
#pragma once

#include "scenes/scenes.hpp"

struct TimelineEntry {
    float start;       // seconds
    SceneFunc scene;   // null in the terminator
    int variant;
    float duration;    // derived: next start - this start
    float sceneStart;  // derived: start of the first entry of this scene's run
};

struct Timeline {
    static constexpr int entryCount = 21;
    TimelineEntry entries[entryCount + 1];  // the last one is the terminator
    int count;
};

// The show: 21 entries and the terminator at 168.81 s, derived columns zero
// until deriveTimeline runs.
extern Timeline timeline;

void deriveTimeline(Timeline& table);

// The frame loop's clock, all zero at the start of the show.
struct TimelineClock {
    float demoTime = 0.0f;
    float previousTime = 0.0f;
    int timelineIndex = 0;
};

// What one frame passes to its scene.
struct FrameStep {
    const TimelineEntry* entry = nullptr;
    float demoTime = 0.0f;
    float sceneTime = 0.0f;
    float progress = 0.0f;
    float frameTime = 0.0f;
};

// Advances the clock to the timer reading (seconds since the music started),
// moves at most one entry per call, and fills the frame's times. Returns
// false when the terminator is reached: the show is over and no scene runs.
bool stepTimeline(TimelineClock& clock, const Timeline& table, double timerSeconds, FrameStep& step);

// Calls the step's scene on the frame.
void drawStep(const FrameStep& step, Image& target);

// The frame clock: frame k is drawn at k / fps seconds, in double. A still
// asked for at some time is the first frame at or past it, less a
// microsecond, so that a frame's time written with fewer digits (0.0166667
// at 60 frames per second) still names that frame.
double frameClock(long long frame, int fps);
bool frameClockReaches(double frameTime, double stillTime);

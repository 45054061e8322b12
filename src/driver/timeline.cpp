#include "driver/timeline.hpp"

Timeline timeline = {
    {
        {0.00f, scene1, 0, 0.0f, 0.0f},
        {4.27f, scene1, 1, 0.0f, 0.0f},
        {17.11f, scene1, 2, 0.0f, 0.0f},
        {21.40f, scene1, 3, 0.0f, 0.0f},
        {25.70f, scene1, 4, 0.0f, 0.0f},
        {29.97f, scene1, 5, 0.0f, 0.0f},
        {34.24f, scene2, 0, 0.0f, 0.0f},
        {36.52f, scene2, 1, 0.0f, 0.0f},
        {42.83f, scene2, 2, 0.0f, 0.0f},
        {49.11f, scene2, 3, 0.0f, 0.0f},
        {51.41f, scene3, 0, 0.0f, 0.0f},
        {55.70f, scene3, 1, 0.0f, 0.0f},
        {64.24f, scene3, 2, 0.0f, 0.0f},
        {68.52f, scene4, 0, 0.0f, 0.0f},
        {87.80f, scene5, 0, 0.0f, 0.0f},
        {107.03f, scene6, 0, 0.0f, 0.0f},
        {124.23f, scene7, 0, 0.0f, 0.0f},
        {141.32f, scene7, 1, 0.0f, 0.0f},
        {143.46f, scene8, 0, 0.0f, 0.0f},
        {145.60f, scene8, 1, 0.0f, 0.0f},
        {160.21f, scene8, 2, 0.0f, 0.0f},
        {168.81f, nullptr, 0, 0.0f, 0.0f},
    },
    Timeline::entryCount,
};

void deriveTimeline(Timeline& table)
{
    SceneFunc previousScene = nullptr;
    for (int i = 0; i < table.count; ++i) {
        TimelineEntry& entry = table.entries[i];
        entry.duration = table.entries[i + 1].start - entry.start;
        if (i > 0 && entry.scene == previousScene) {
            entry.sceneStart = table.entries[i - 1].sceneStart;
        } else {
            entry.sceneStart = entry.start;
            previousScene = entry.scene;
        }
    }
}

bool stepTimeline(TimelineClock& clock, const Timeline& table, double timerSeconds, FrameStep& step)
{
    if (clock.timelineIndex >= table.count)
        return false;

    // Measured from the accumulated previousTime, so the float clock never
    // drifts from the double timer by more than float rounding.
    const float frameTime = static_cast<float>(timerSeconds - static_cast<double>(clock.previousTime));
    clock.previousTime += frameTime;
    clock.demoTime += frameTime;

    // At most one entry per frame: after a long frame each skipped entry
    // still gets one frame, with progress above 1.
    if (clock.demoTime >= table.entries[clock.timelineIndex + 1].start) {
        ++clock.timelineIndex;
        if (clock.timelineIndex >= table.count)
            return false;
    }

    const TimelineEntry& entry = table.entries[clock.timelineIndex];
    step.entry = &entry;
    step.demoTime = clock.demoTime;
    step.sceneTime = clock.demoTime - entry.sceneStart;
    step.progress = (clock.demoTime - entry.start) / entry.duration;
    step.frameTime = frameTime;
    return true;
}

void drawStep(const FrameStep& step, Image& target)
{
    step.entry->scene(target, step.demoTime, step.sceneTime, step.progress, step.frameTime,
                      step.entry->variant);
}

double frameClock(long long frame, int fps)
{
    return static_cast<double>(frame) / fps;
}

bool frameClockReaches(double frameTime, double stillTime)
{
    return frameTime >= stillTime - 1e-6;
}

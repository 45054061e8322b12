#include "platform/web/offline_show.hpp"

#include "driver/frame_bench.hpp"
#include "driver/timeline.hpp"
#include "platform/web/song_rows.hpp"
#include "platform/web/web_music.hpp"
#include "scenes/shared.hpp"

#include <algorithm>
#include <vector>

namespace {

constexpr int fps = 60;

struct OfflineState {
    TimelineClock clock;
    FrameStep step;
    long long nextFrame = 0;
    double previousTime = -1.0;  // the frame before the last one drawn
    double lastTime = -1.0;      // the last frame drawn
    bool ended = false;
};
OfflineState state;

bool stepFrame()
{
    if (state.ended)
        return false;
    const long long k = state.nextFrame++;
    const double time = frameClock(k, fps);
    webSongSetRow(k >= 1 ? songRows[std::min<long long>(k - 1, songRowCount - 1)] : 0);
    if (!stepTimeline(state.clock, timeline, time, state.step)) {
        state.ended = true;
        return false;
    }
    drawStep(state.step, frame);
    state.previousTime = state.lastTime;
    state.lastTime = time;
    return true;
}

} // namespace

StillResult stepToStill(double seconds)
{
    // Refused at once rather than after drawing the whole show.
    if (seconds > static_cast<double>(timeline.entries[timeline.count].start))
        return StillResult::ended;
    if (state.previousTime >= 0.0 && frameClockReaches(state.previousTime, seconds))
        return StillResult::passed;
    if (state.lastTime >= 0.0 && frameClockReaches(state.lastTime, seconds))
        return StillResult::drawn;
    while (stepFrame())
        if (frameClockReaches(state.lastTime, seconds))
            return StillResult::drawn;
    return StillResult::ended;
}

void benchShow()
{
    const double copyBefore = measureFrameCopy(1000);
    std::vector<double> frameMs;
    std::vector<int> frameScene;
    for (;;) {
        const double start = cpuMilliseconds();
        if (!stepFrame())
            break;
        frameMs.push_back(cpuMilliseconds() - start);
        frameScene.push_back(sceneNumber(state.step.entry->scene));
    }
    printBenchReport(frameMs, frameScene, 0.5 * (copyBefore + measureFrameCopy(1000)));
}

#include "driver/timeline.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Call {
    int variant;
    float sceneTime;
    float progress;
};
std::vector<Call> calls;

void recordingScene(Image&, float, float sceneTime, float progress, float, int variant)
{
    calls.push_back({variant, sceneTime, progress});
}

Timeline derivedShow()
{
    Timeline table = timeline;
    deriveTimeline(table);
    return table;
}

// Durations run to the next start; runs of one scene share the start of
// their first entry, from which sceneTime counts.
TEST(Timeline, DerivedColumnsAndTimesWithinAnEntry)
{
    const Timeline table = derivedShow();
    EXPECT_NEAR(table.entries[20].duration, 8.60f, 1e-5f);
    EXPECT_EQ(table.entries[20].sceneStart, 143.46f);

    TimelineClock clock;
    FrameStep step;
    // Walk into entry 7 one frame per entry boundary.
    for (double t : {1.0, 5.0, 18.0, 22.0, 26.0, 30.0, 35.0, 40.0})
        ASSERT_TRUE(stepTimeline(clock, table, t, step));
    EXPECT_EQ(clock.timelineIndex, 7);
    EXPECT_EQ(step.sceneTime, step.demoTime - 34.24f);
    EXPECT_EQ(step.progress, (step.demoTime - 36.52f) / table.entries[7].duration);
    EXPECT_EQ(step.frameTime, 5.0f);
}

TEST(Timeline, LongFrameStepsOneEntryPerFrame)
{
    Timeline table = derivedShow();
    for (int i = 0; i < table.count; ++i)
        table.entries[i].scene = recordingScene;
    calls.clear();
    Image target(4, 4);
    TimelineClock clock;
    FrameStep step;
    // A 30-second frame (a pause, say) crosses five boundaries at once.
    for (double t : {0.01, 30.0, 30.01, 30.02, 30.03, 30.04, 30.05}) {
        ASSERT_TRUE(stepTimeline(clock, table, t, step));
        drawStep(step, target);
    }
    ASSERT_EQ(calls.size(), 7u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(calls[i].variant, i) << "each skipped entry gets one frame";
        EXPECT_EQ(calls[i].progress > 1.0f, i >= 1 && i < 5) << "entry " << i << " runs late";
    }
    EXPECT_EQ(calls[6].variant, 5);
    EXPECT_FLOAT_EQ(calls[6].sceneTime, 30.05f);
}

TEST(Timeline, TerminatorEndsTheShowWithoutAScene)
{
    const Timeline table = derivedShow();
    TimelineClock clock;
    FrameStep step;
    int frames = 0;
    while (stepTimeline(clock, table, 168.81, step) && frames < 100) {
        ASSERT_NE(step.entry->scene, nullptr);
        ++frames;
    }
    EXPECT_EQ(frames, 20) << "entries 1 to 20 each get one frame";
    EXPECT_EQ(clock.timelineIndex, 21);
    EXPECT_FALSE(stepTimeline(clock, table, 170.0, step)) << "stays ended";
    // Just before the end the last entry is still drawn.
    TimelineClock late;
    late.timelineIndex = 20;
    EXPECT_TRUE(stepTimeline(late, table, 168.80, step));
    EXPECT_FALSE(stepTimeline(late, table, 168.81, step));
}

} // namespace

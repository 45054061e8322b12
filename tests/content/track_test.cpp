#include "content/tcb_track.hpp"

#include <gtest/gtest.h>

namespace {

void expectVector(const Vector3& v, float x, float y, float z)
{
    EXPECT_NEAR(v.x, x, 1e-3f);
    EXPECT_NEAR(v.y, y, 1e-3f);
    EXPECT_NEAR(v.z, z, 1e-3f);
}

const Vector3 diamond[] = {{320, 80, 0}, {400, 160, 0}, {320, 240, 0}, {240, 160, 0}};

} // namespace

TEST(Track, EmptyTracksAndKeyLimits)
{
    Track empty(4);
    for (const float t : {-1.0f, 0.0f, 0.5f, 7.0f})
        expectVector(empty.evaluate(t), 6, 6, 6);

    Track big(2500);
    for (int i = 0; i < 2000; ++i)
        ASSERT_TRUE(big.addKey(TrackKey{static_cast<float>(i), {}, {}, {}}));
    big.searchStart = 5;
    EXPECT_FALSE(big.addKey(TrackKey{}));
    EXPECT_EQ(big.keyCount, 2000);
    EXPECT_EQ(big.searchStart, 5) << "a refused key changes nothing";

    // The capacity holds too; a closed track keeps a slot for its closing key.
    TcbTrack open(3), loop(3);
    loop.closed = true;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(open.addKey(static_cast<float>(i), diamond[i], 0, 0, 0), i < 3) << i;
        EXPECT_EQ(loop.addKey(static_cast<float>(i), diamond[i], 0, 0, 0), i < 2) << i;
    }
    // Closed only once full, it still has room for the closing key.
    open.closed = true;
    open.computeTangents();
    EXPECT_EQ(open.keys[3].time, 3.0f);
    expectVector(open.evaluate(0.999999f), 320, 80, 0);
}

TEST(Track, HermiteSegmentsFoundFromAnyStart)
{
    // Tangents equal to the chords make each segment a straight, even line.
    Track track(3);
    ASSERT_TRUE(track.addKey(TrackKey{0.0f, {0, 0, 0}, {}, {2, 0, 0}}));
    ASSERT_TRUE(track.addKey(TrackKey{1.0f, {2, 0, 0}, {2, 0, 0}, {0, 4, 0}}));
    ASSERT_TRUE(track.addKey(TrackKey{3.0f, {2, 4, 0}, {0, 4, 0}, {}}));
    expectVector(track.evaluate(0.25f), 1.5f, 0, 0);  // a share of the last key's time, 3
    expectVector(track.evaluate(2.0f / 3), 2, 2, 0);
    expectVector(track.evaluate(-1.0f), 0, 0, 0);
    expectVector(track.evaluate(1.5f), 2, 4, 0);
    track.searchStart = 1;
    expectVector(track.evaluate(0.1f), 0.6f, 0, 0);
}

TEST(TcbTrack, ClosedRoundedDiamond)
{
    TcbTrack loop(20);
    loop.closed = true;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(loop.addKey(static_cast<float>(i), diamond[i], -0.95f, 0, 0));
    loop.computeTangents();
    EXPECT_EQ(loop.keys[4].time, 4.0f);
    expectVector(loop.keys[4].position, 320, 80, 0);
    for (const float t : {0.25f, 1.25f})
        expectVector(loop.evaluate(t), 400, 160, 0);
    expectVector(loop.evaluate(-0.25f), 320, 80, 0);  // the sign follows t

    // Tension -0.95 on even keys: 0.975 x (next - previous), key 0 taking
    // the last key as its previous one.
    for (int i = 0; i < 4; ++i) {
        const Vector3 d = diamond[(i + 1) % 4] - diamond[(i + 3) % 4];
        expectVector(loop.keys[i].inTangent, 0.975f * d.x, 0.975f * d.y, 0);
        expectVector(loop.keys[i].outTangent, 0.975f * d.x, 0.975f * d.y, 0);
    }
    const Vector3 mid = loop.evaluate(0.125f);  // bulges out past the chord
    EXPECT_GT(mid.x, 370.0f);
    EXPECT_LT(mid.y, 110.0f);
}

TEST(TcbTrack, OpenTrackWithUnevenKeysContinuityAndBias)
{
    TcbTrack open(3);
    ASSERT_TRUE(open.addKey(0.0f, {0, 0, 0}, 0, 0, 0));
    ASSERT_TRUE(open.addKey(1.0f, {1, 1, 0}, 0.2f, 0.5f, -0.4f));
    ASSERT_TRUE(open.addKey(4.0f, {4, 0, 0}, 0, 0, 0));
    open.computeTangents();
    const TrackKey* k = open.keys;
    // kIn = 0.5 + 0.5 (1/4 - 0.5), kOut = 0.5 + 0.5 (3/4 - 0.5); dp = (1, 1), dn = (3, -1).
    const double in = 0.375 * 0.8, out = 0.625 * 0.8;
    expectVector(k[1].inTangent, in * (0.3 + 2.1 * 3), in * (0.3 - 2.1), 0);
    expectVector(k[1].outTangent, out * (0.9 + 0.7 * 3), out * (0.9 - 0.7), 0);
    expectVector(k[0].outTangent, 1.5f - 0.5f * k[1].inTangent.x, 1.5f - 0.5f * k[1].inTangent.y, 0);
    expectVector(k[2].inTangent, 4.5f - 0.5f * k[1].outTangent.x, -1.5f - 0.5f * k[1].outTangent.y, 0);
    expectVector(k[2].outTangent, 0, 0, 0);
    expectVector(open.evaluate(0.25f), 1, 1, 0);
}

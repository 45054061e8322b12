#include "content/tcb_track.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void expectVector(const Vector3& v, float x, float y, float z, float tolerance = 1e-4f)
{
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

const Vector3 diamond[] = {{320, 80, 0}, {400, 160, 0}, {320, 240, 0}, {240, 160, 0}};

} // namespace

TEST(Track, EmptyAndSingleKeyTracks)
{
    Track empty(4);
    for (const float t : {-1.0f, 0.0f, 0.5f, 7.0f})
        expectVector(empty.evaluate(t), 6, 6, 6);
    empty.closed = true;
    expectVector(empty.evaluate(0.3f), 6, 6, 6);

    Track one(4);
    ASSERT_TRUE(one.addKey(TrackKey{2.0f, {1, 2, 3}, {}, {}}));
    expectVector(one.evaluate(0.7f), 1, 2, 3);
}

TEST(Track, OpenHermiteSegmentsAndSearch)
{
    // Straight segments with tangents equal to the chord are linear in s.
    Track track(3);
    ASSERT_TRUE(track.addKey(TrackKey{0.0f, {0, 0, 0}, {}, {2, 0, 0}}));
    ASSERT_TRUE(track.addKey(TrackKey{1.0f, {2, 0, 0}, {2, 0, 0}, {0, 4, 0}}));
    ASSERT_TRUE(track.addKey(TrackKey{3.0f, {2, 4, 0}, {0, 4, 0}, {}}));
    EXPECT_FALSE(track.addKey(TrackKey{4.0f, {}, {}, {}})) << "past the capacity";
    // The argument is a fraction of the last key's time, 3.
    expectVector(track.evaluate(0.25f), 1.5f, 0, 0);
    expectVector(track.evaluate(2.0f / 3), 2, 2, 0);
    expectVector(track.evaluate(-1.0f), 0, 0, 0);
    expectVector(track.evaluate(1.5f), 2, 4, 0);
    // Going back in time after a later segment still finds the first one.
    track.searchStart = 1;
    expectVector(track.evaluate(0.1f), 0.6f, 0, 0);
    EXPECT_EQ(track.searchStart, 0);
}

TEST(Track, KeyLimits)
{
    Track big(2500);
    for (int i = 0; i < 2000; ++i)
        ASSERT_TRUE(big.addKey(TrackKey{static_cast<float>(i), {}, {}, {}}));
    big.searchStart = 5;
    EXPECT_FALSE(big.addKey(TrackKey{2000.0f, {}, {}, {}}));
    EXPECT_EQ(big.keyCount, 2000);
    EXPECT_EQ(big.searchStart, 5) << "a refused key changes nothing";

    // A closed track keeps its last slot for the closing key.
    TcbTrack loop(4);
    loop.closed = true;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(loop.addKey(static_cast<float>(i), diamond[i], 0, 0, 0));
    EXPECT_FALSE(loop.addKey(3.0f, diamond[3], 0, 0, 0));
    EXPECT_EQ(loop.keyCount, 3);

    // Closing a track only once it is full still leaves room for the closing key.
    TcbTrack late(4);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(late.addKey(static_cast<float>(i), diamond[i], 0, 0, 0));
    late.closed = true;
    late.computeTangents();
    EXPECT_EQ(late.keys[4].time, 4.0f);
    expectVector(late.evaluate(0.99999f), 320, 80, 0, 0.01f);

    Track none(0);
    EXPECT_FALSE(none.addKey(TrackKey{}));
}

TEST(TcbTrack, ClosedLoopWithItsClosingKey)
{
    TcbTrack loop(20);
    loop.closed = true;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(loop.addKey(static_cast<float>(i), diamond[i], -0.95f, 0, 0));
    loop.computeTangents();
    EXPECT_EQ(loop.keyCount, 4);
    EXPECT_EQ(loop.keys[4].time, 4.0f);
    expectVector(loop.keys[4].position, 320, 80, 0);

    for (const float t : {0.25f, 1.25f, -0.75f + 1.0f})
        expectVector(loop.evaluate(t), 400, 160, 0);
    expectVector(loop.evaluate(0.0f), 320, 80, 0);
    // Negative fractions keep their sign and fall before key 0.
    expectVector(loop.evaluate(-0.25f), 320, 80, 0);

    // Tension -0.95 on evenly spaced keys: 0.975 x (next - previous), key 0
    // taking the last key as its previous one.
    for (int i = 0; i < 4; ++i) {
        const Vector3 d = diamond[(i + 1) % 4] - diamond[(i + 3) % 4];
        expectVector(loop.keys[i].inTangent, 0.975f * d.x, 0.975f * d.y, 0);
        expectVector(loop.keys[i].outTangent, 0.975f * d.x, 0.975f * d.y, 0);
    }
    // Halfway between keys 0 and 1 the rounded path bulges out past the chord.
    const Vector3 mid = loop.evaluate(0.125f);
    EXPECT_GT(mid.x, 360.0f + 10.0f);
    EXPECT_LT(mid.y, 120.0f - 10.0f);
}

TEST(TcbTrack, OpenEndsAndUnevenKeys)
{
    // Two keys: the chord scaled by each key's slackness.
    TcbTrack pair(2);
    ASSERT_TRUE(pair.addKey(0.0f, {0, 0, 0}, 0.5f, 0, 0));
    ASSERT_TRUE(pair.addKey(1.0f, {4, 2, 0}, -1.0f, 0, 0));
    pair.computeTangents();
    expectVector(pair.keys[0].outTangent, 2, 1, 0);
    expectVector(pair.keys[1].inTangent, 8, 4, 0);

    // Three keys unevenly spaced, with continuity and bias.
    TcbTrack open(3);
    ASSERT_TRUE(open.addKey(0.0f, {0, 0, 0}, 0, 0, 0));
    ASSERT_TRUE(open.addKey(1.0f, {1, 1, 0}, 0.2f, 0.5f, -0.4f));
    ASSERT_TRUE(open.addKey(4.0f, {4, 0, 0}, 0, 0, 0));
    open.computeTangents();
    const TrackKey* k = open.keys;
    // kIn = 0.5 + 0.5 (1/4 - 0.5) = 0.375, kOut = 0.5 + 0.5 (3/4 - 0.5) = 0.625.
    const double in = 0.375 * 0.8, out = 0.625 * 0.8;
    const double dp[] = {1, 1}, dn[] = {3, -1};
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR((&k[1].inTangent.x)[c], in * (0.6 * 0.5 * dp[c] + 1.4 * 1.5 * dn[c]), 1e-5);
        EXPECT_NEAR((&k[1].outTangent.x)[c], out * (0.6 * 1.5 * dp[c] + 1.4 * 0.5 * dn[c]), 1e-5);
    }
    expectVector(k[0].outTangent, 1.5f - 0.5f * k[1].inTangent.x, 1.5f - 0.5f * k[1].inTangent.y, 0);
    expectVector(k[2].inTangent, 4.5f - 0.5f * k[1].outTangent.x, -1.5f - 0.5f * k[1].outTangent.y, 0);
    expectVector(k[2].outTangent, 0, 0, 0);
    expectVector(k[0].inTangent, 0, 0, 0);
    // The curve passes through its keys.
    expectVector(open.evaluate(0.25f), 1, 1, 0);
    expectVector(open.evaluate(1.0f), 4, 0, 0);
}

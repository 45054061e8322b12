// The packed tracer in both its forms, two lanes (every machine) and four
// (x86-64 with AVX2), against the single-ray tracer in random worlds: every
// word of every sample the same, whatever the number of rays and however
// their masks differ within a group of lanes.
#include "content/sphere_tracer.hpp"

#include "image/wide.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

class PackedTracer : public ::testing::Test {
protected:
    void SetUp() override { initSqrtTables(); }
    void TearDown() override { useWideVectors(wideBefore); }

    // Overlapping spheres round the origin; the eye outside them or inside
    // one; lights anywhere, inside spheres and behind them among the rest.
    void makeWorld(bool eyeInside)
    {
        for (TraceSphere& s : traceSpheres)
            s = {Vector3(coordinate(), coordinate(), coordinate()), {unit(), unit(), unit()},
                 20.0f + 80.0f * unit(), {}, 0, 0};
        for (TraceLight& l : traceLights)
            l = {Vector3(3 * coordinate(), 3 * coordinate(), 3 * coordinate()), {unit(), unit(), unit()}};
        const TraceSphere& around = traceSpheres[random() % traceSphereCount];
        eye = eyeInside ? Vector3(around.centre.x + 0.5f * around.radius * unit(), around.centre.y, around.centre.z)
                        : Vector3(coordinate(), coordinate(), -600.0f);
        prepareTraceFrame(eye);
    }

    // Towards a random sphere: across it, or a few float steps either side
    // of its silhouette, where the discriminant is all but 0.
    Vector3 direction()
    {
        const TraceSphere& s = traceSpheres[random() % traceSphereCount];
        const Vector3 to(s.centre.x - eye.x, s.centre.y - eye.y, s.centre.z - eye.z);
        const double distance = std::sqrt(to.dot(to));
        const Vector3 side = Vector3(to.y, -to.x, 0.0f).normalised();
        const double across = random() % 2 ? s.radius * (2.0 * unit() - 1.0) : s.radius * distance / std::sqrt(distance * distance - s.radius * s.radius);
        Vector3 d(static_cast<float>(to.x + across * side.x), static_cast<float>(to.y + across * side.y), to.z);
        for (float* c : {&d.x, &d.y, &d.z})
            for (int steps = static_cast<int>(random() % 9) - 4; steps != 0; steps += steps > 0 ? -1 : 1)
                *c = std::nextafter(*c, steps > 0 ? 1e30f : -1e30f);
        return d;
    }

    // count samples traced by traceRequests and by traceSample, with masks
    // that mostly run alike in neighbours and sometimes change from one to
    // the next; a few samples are traced already and must stay as they are.
    void expectSameAsSingleRays(int count, const char* form)
    {
        std::vector<TraceSample> packed(count), single(count);
        std::vector<TraceRequest> requests(count);
        std::uint32_t spheres = 63, lights = 3;
        int untraced = 0;
        for (int i = 0; i < count; ++i) {
            TraceSample& s = packed[i];
            std::memset(&s, 0x5A + i % 7, sizeof s);  // what a miss keeps
            s.origin = eye;
            s.direction = direction();
            s.sphere = random() % 16 ? -2 : 3;
            untraced += s.sphere == -2;
            if (random() % 4 == 0)
                spheres = random() % 64;
            if (random() % 4 == 0)
                lights = random() % 4;
            requests[i] = {&packed[i], spheres, lights};
            single[i] = s;
            traceSample(single[i], spheres, lights);
        }
        const std::uint64_t before = tracedRayCount;
        traceRequests(requests.data(), count);
        EXPECT_EQ(tracedRayCount - before, static_cast<std::uint64_t>(untraced)) << form << ", " << count << " rays";
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(std::memcmp(&packed[i], &single[i], sizeof(TraceSample)), 0)
                << form << ", ray " << i << " of " << count << ": sphere " << packed[i].sphere << " for "
                << single[i].sphere << ", lights " << packed[i].lightMask << " for " << single[i].lightMask;
    }

    void compareForm(const char* form)
    {
        for (int world = 0; world < 24; ++world) {
            makeWorld(world % 3 == 0);
            for (const int count : {1, 2, 3, 4, 5, 6, 7, 9, 31, 319, 320, 321, 643})
                expectSameAsSingleRays(count, form);
        }
    }

    float unit() { return std::uniform_real_distribution<float>(0.0f, 1.0f)(random); }
    float coordinate() { return std::uniform_real_distribution<float>(-150.0f, 150.0f)(random); }

    std::mt19937 random{17};
    Vector3 eye{0, 0, 0};
    bool wideBefore = wideVectors();
};

} // namespace

TEST_F(PackedTracer, TwoLanesGiveTheSingleRayResults)
{
    useWideVectors(false);
    compareForm("two lanes");
}

TEST_F(PackedTracer, FourLanesGiveTheSingleRayResults)
{
    if (!useWideVectors(true))
        GTEST_SKIP() << "no AVX2 here: only the two-lane form runs";
    compareForm("four lanes");
}

// The depth sort: the stable order of the keys' bits, whatever their spread.
#include "engine/face_sort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <vector>

namespace {

std::uint32_t bitsOf(float f)
{
    return std::bit_cast<std::uint32_t>(f);
}

// Faces with the given key bits; each face pointer and normal tells its
// place in the list, so that any face lost, doubled or reordered shows.
std::vector<VisibleFace> facesWith(const std::vector<std::uint32_t>& keys)
{
    static Face faces[renderFaceCapacity];
    std::vector<VisibleFace> list(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        list[i].face = &faces[i];
        list[i].normal = Vector3(static_cast<float>(i), -static_cast<float>(i), 0.5f);
        list[i].key = std::bit_cast<float>(keys[i]);
    }
    return list;
}

void expectStableOrder(std::vector<VisibleFace> list, const char* what)
{
    std::vector<VisibleFace> expected = list;
    std::stable_sort(expected.begin(), expected.end(),
                     [](const VisibleFace& a, const VisibleFace& b) { return bitsOf(a.key) < bitsOf(b.key); });
    std::vector<VisibleFace> buffer(list.size());
    const VisibleFace* sorted = sortByKeyBits(list.data(), buffer.data(), static_cast<int>(list.size()));
    ASSERT_TRUE(list.empty() || sorted == list.data() || sorted == buffer.data()) << what;
    for (std::size_t i = 0; i < list.size(); ++i) {
        ASSERT_EQ(sorted[i].face, expected[i].face) << what << ", " << list.size() << " faces, at " << i;
        ASSERT_EQ(bitsOf(sorted[i].key), bitsOf(expected[i].key)) << what << ", at " << i;
        ASSERT_EQ(bitsOf(sorted[i].normal.x), bitsOf(expected[i].normal.x)) << what << ", at " << i;
    }
}

} // namespace

TEST(FaceSort, GivesTheStableOrderOfTheKeyBitsForEverySpreadAndSize)
{
    std::mt19937 random(77);
    for (const int count : {0, 1, 2, 31, 32, 33, 34, 257, 1000, renderFaceCapacity}) {
        // Keys as one mesh gives them (1/z of nearby faces), keys that differ
        // in one, two, three or all four bytes, keys with the sign bit set,
        // and many equal keys, whose order must stay as it was.
        std::uniform_real_distribution<float> depth(100.0f, 180.0f);
        std::vector<std::uint32_t> nearby, spread[4], signs, equal, fewValues;
        const std::uint32_t base = 0x3C000000u;
        for (int i = 0; i < count; ++i) {
            nearby.push_back(bitsOf(1.0f / depth(random)));
            for (int bytes = 1; bytes <= 4; ++bytes)
                spread[bytes - 1].push_back(base + static_cast<std::uint32_t>(random() >> (32 - 8 * bytes)) -
                                            (bytes == 4 ? base : 0u));
            signs.push_back(bitsOf(std::uniform_real_distribution<float>(-0.02f, 0.02f)(random)));
            equal.push_back(base);
            fewValues.push_back(base + static_cast<std::uint32_t>(random() % 3) * 0x10101u);
        }
        expectStableOrder(facesWith(nearby), "keys of nearby faces");
        for (int bytes = 1; bytes <= 4; ++bytes)
            expectStableOrder(facesWith(spread[bytes - 1]), "keys spread over bytes");
        expectStableOrder(facesWith(signs), "keys with either sign");
        expectStableOrder(facesWith(equal), "equal keys");
        expectStableOrder(facesWith(fewValues), "a few distinct keys");
    }
    // The extremes of the unsigned range: the difference takes all 32 bits.
    expectStableOrder(facesWith(std::vector<std::uint32_t>(40, 0xFFFFFFFFu)), "all ones");
    std::vector<std::uint32_t> extremes;
    for (int i = 0; i < 50; ++i)
        extremes.push_back(i % 3 == 0 ? 0u : i % 3 == 1 ? 0xFFFFFFFFu : 0x80000000u);
    expectStableOrder(facesWith(extremes), "the extremes");
}

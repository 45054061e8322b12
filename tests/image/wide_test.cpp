// The wide (AVX2) forms against the 16-byte ones on this machine: the same
// pictures from both, for the lengths around whole registers and for the
// groups of lines each takes at once. Each form is also checked against the
// reference formulas by the tests of its caller, with whichever form this
// machine takes by default.
#include "image/blur.hpp"
#include "image/ops.hpp"
#include "image/wide.hpp"
#include "reference.hpp"

#include <gtest/gtest.h>

namespace {

// Turns the wide forms on for one scope and back to what they were.
struct WideForms {
    bool was = wideVectors();
    bool available = useWideVectors(true);
    ~WideForms() { useWideVectors(was); }
};

// Bytes from a few values, so that runs of equal bytes and rises and falls
// of one and of many occur in every channel.
void fewValues(Image& image, std::mt19937& rng)
{
    const std::uint8_t values[] = {0, 1, 2, 3, 0x33, 0x34, 254, 255};
    for (int i = 0; i < image.pitch / 4 * image.height; ++i) {
        std::uint32_t p = 0;
        for (int b = 0; b < 4; ++b)
            p = p << 8 | values[rng() % 8];
        image.pixels[i] = p;
    }
}

} // namespace

TEST(WideForms, TintAndBlurGiveTheBytesOfTheNarrowForms)
{
    WideForms wide;
    if (!wide.available)
        GTEST_SKIP() << "no AVX2 here: only the 16-byte forms run";
    std::mt19937 rng(21);
    for (int round = 0; round < 150; ++round) {
        // Widths around 8 and 16 pixels; heights around 8 and 16 lines.
        const int w = 1 + static_cast<int>(rng() % 40), h = 1 + static_cast<int>(rng() % 35);
        RandomPair image(w + 3, h, rng);
        if (round % 2) {
            fewValues(image.fast, rng);
            std::memcpy(image.expected.pixels, image.fast.pixels, static_cast<std::size_t>(image.fast.pitch) * h);
        }
        const int c = round % 4 == 0 ? 16383 : static_cast<int>(rng() % 16384);
        const float time = static_cast<float>(rng() % 170000) / 1000.0f;
        for (const bool on : {true, false}) {
            useWideVectors(on);
            Image& target = on ? image.fast : image.expected;
            Image inner(w, h, target.pitch, target.pixels + 1);  // rows that do not start a register
            blurLines(inner.pixels, 4, inner.pitch, w, h, c, c, round % 3 ? c : 16383, c);
            rowNoiseTint(inner, time, 0, 0, w, h, 1.0f);
        }
        ASSERT_EQ(image.difference(), -1) << "round " << round << ", " << w << " x " << h << ", coefficient " << c;
    }
}

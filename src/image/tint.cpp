// The row light: every row of a rectangle is scaled and lifted by amounts
// drawn from four drifting smooth-noise bands.
#include "image/noise.hpp"
#include "image/ops.hpp"
#include "image/wide.hpp"

#include <algorithm>
#include <cmath>
#include "image/simd.hpp"

namespace {

// A multiplier or an offset, held in 0..255 so that an amount outside 0..1
// cannot wrap the 16-bit pixel arithmetic (inside 0..1 it never leaves it).
int toByteRange(double v)
{
    if (!(v > 0.0))
        return 0;
    return v >= 255.0 ? 255 : static_cast<int>(v);
}

// c = min(255, ((c * mul) >> 8) + add) on blue, green and red; the fourth
// byte becomes 0. (c * mul) >> 8 is the high half of c * (mul << 8), an
// unsigned 16-bit product: blue and red are masked into the low halves of
// 16-bit lanes, green and the fourth byte shifted there and back, so no
// unpacking is needed. The fourth byte's multiplier and offset are 0, which
// clears it, and the saturating byte add is the min().
void tintRow(std::uint32_t* p, int count, int mul, int add)
{
    const __m128i even = _mm_set1_epi16(0x00FF);
    const __m128i mEven = _mm_set1_epi16(static_cast<short>(mul << 8));
    const __m128i mOdd = _mm_set1_epi32(mul << 8);
    const __m128i a = _mm_set1_epi32(add * 0x010101);
    auto tint = [&](__m128i v) {
        const __m128i lo = _mm_mulhi_epu16(_mm_and_si128(v, even), mEven);
        const __m128i hi = _mm_slli_epi16(_mm_mulhi_epu16(_mm_srli_epi16(v, 8), mOdd), 8);
        return _mm_adds_epu8(_mm_or_si128(lo, hi), a);
    };
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        auto* q = reinterpret_cast<__m128i*>(p + x);
        const __m128i v0 = _mm_loadu_si128(q), v1 = _mm_loadu_si128(q + 1);
        _mm_storeu_si128(q, tint(v0));
        _mm_storeu_si128(q + 1, tint(v1));
    }
    for (; x + 4 <= count; x += 4) {
        auto* q = reinterpret_cast<__m128i*>(p + x);
        _mm_storeu_si128(q, tint(_mm_loadu_si128(q)));
    }
    for (; x < count; ++x)
        p[x] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(tint(_mm_cvtsi32_si128(static_cast<int>(p[x])))));
}

int band(double n, int base)
{
    return static_cast<int>(n * 63.0 + base);
}

} // namespace

void rowNoiseTint(Image& image, float time, int x, int y, int w, int h, float amount)
{
    if (!image.pixels)
        return;
    // Rows and columns outside the image are skipped; the bands stay tied to
    // the rectangle's own rows.
    const int xBegin = std::max(x, 0);
    const int xEnd = static_cast<int>(std::min<long long>(static_cast<long long>(x) + w, image.width));
    if (xBegin >= xEnd)
        return;
    const double amt = amount == amount ? static_cast<double>(amount) : 0.0;

    const float t10 = time * 10.0f;
    const double u1 = 100000.0 - time * 10.1;
    const double u2 = time * 10.2;
    const double u3 = 150000.0 - time * 10.3;

    // The rows' multipliers and offsets are worked out a batch at a time
    // before any pixel is touched: the noise of one row does not wait for
    // the previous row's pixels, and its tables stay in the cache.
    constexpr int batch = 64;
    int muls[batch], adds[batch];
    const long long iBegin = y < 0 ? -static_cast<long long>(y) : 0;
    const long long iEnd = std::min<long long>(h, static_cast<long long>(image.height) - y);
    for (long long start = iBegin; start < iEnd; start += batch) {
        const int count = static_cast<int>(std::min<long long>(batch, iEnd - start));
        for (int k = 0; k < count; ++k) {
            const double r = static_cast<double>(start + k) * 0.3;
            const int s1 = band(smoothNoise(static_cast<float>(r + t10)), 127);
            const int s2 = band(smoothNoise(static_cast<float>(u1 + r)), 127);
            const int s3 = band(smoothNoise(static_cast<float>(u2 + r + 44320.0)), 190);
            const int s4 = band(smoothNoise(static_cast<float>(u3 + r)), 190);
            const int m = (s1 * s2) >> 8;
            const int q = (s3 * s4) >> 8;
            adds[k] = toByteRange(((m * m) >> 8) * amt);
            muls[k] = toByteRange(255.0 - ((q * q) >> 8) * amt);
        }
        const auto tintLine = wideVectors() ? wide::tintRow : tintRow;
        for (int k = 0; k < count; ++k)
            tintLine(image.row(static_cast<int>(y + start + k)) + xBegin, xEnd - xBegin, muls[k], adds[k]);
    }
}

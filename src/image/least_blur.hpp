// The blur along lines with every coefficient 16383, worked out on the
// bytes, written once for both register widths: blur.cpp runs it on four
// lines with 16-byte registers, wide_avx2.cpp on eight with 32-byte ones
// (four lines in each half). Everything here is in an unnamed namespace, so
// that each file compiles its own copy for its own instruction set.
//
// There every step of the blur takes its running value y (a byte times 128,
// less a multiple of 4) to x - 4 if its target x lies above y and to x
// otherwise. So, going forward, a channel sits 4 below its byte where the
// byte rose, or stayed level after sitting below; going back the same again
// against the next pixel's result; and a channel ends one below its byte
// where either pass left it below, else at its byte.
//
// Bytes names the registers and their operations: a type V, zero(),
// equal(a, b) and subSaturated(a, b) on bytes, add(a, b) on bytes,
// and/andNot/or, the 32- and 64-bit interleaves within each 16-byte half
// (low32, high32, low64, high64), and load(line, r, offset) and
// store(line, r, offset, v) for block r of four pixels across the lines.
#pragma once

#include <cstdint>

namespace {

// Four blocks of four pixels turned over within each 16-byte half: in,
// four pixels of each of four lines; out, one pixel column of the four
// lines per register. Its own inverse.
template <typename Bytes>
inline void turnOver(typename Bytes::V p[4])
{
    using B = Bytes;
    const auto t0 = B::low32(p[0], p[1]), t1 = B::low32(p[2], p[3]);
    const auto t2 = B::high32(p[0], p[1]), t3 = B::high32(p[2], p[3]);
    p[0] = B::low64(t0, t1);
    p[1] = B::high64(t0, t1);
    p[2] = B::low64(t2, t3);
    p[3] = B::high64(t2, t3);
}

// count: a multiple of 4; risingFrom: count registers of work space.
template <typename Bytes>
void blurLeastLines(std::uint8_t* const* line, int count, typename Bytes::V* risingFrom)
{
    using B = Bytes;
    using V = typename Bytes::V;
    const V zero = B::zero();
    // Byte lanes where x is not above y.
    const auto notAbove = [&](V x, V y) { return B::equal(B::subSaturated(x, y), zero); };
    // Where x rose from y, or stayed level and was already marked: x >= y,
    // and not level without the mark.
    const auto roseOrKept = [&](V x, V y, V marked) {
        return B::andNot(B::andNot(marked, B::equal(x, y)), notAbove(y, x));
    };
    const auto load = [&](int x, V p[4]) {
        for (int r = 0; r < 4; ++r)
            p[r] = B::load(line, r, 4 * x);
        turnOver<B>(p);
    };
    V p[4];
    load(0, p);
    V previous = p[0], rising = zero;
    for (int x = 0; x < count; x += 4) {
        if (x > 0)
            load(x, p);
        for (int j = 0; j < 4; ++j) {
            rising = roseOrKept(p[j], previous, rising);
            risingFrom[x + j] = rising;
            previous = p[j];
        }
    }
    V lowered = zero;  // the next pixel ended below its byte
    for (int x = count - 4; x >= 0; x -= 4) {
        load(x, p);
        for (int j = 3; j >= 0; --j) {
            const V falling = roseOrKept(p[j], previous, lowered);
            previous = p[j];
            lowered = B::orBits(risingFrom[x + j], falling);
            p[j] = B::add(p[j], lowered);  // all ones: one less
        }
        turnOver<B>(p);
        for (int r = 0; r < 4; ++r)
            B::store(line, r, 4 * x, p[r]);
    }
}

} // namespace

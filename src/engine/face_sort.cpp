#include "engine/face_sort.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <utility>

namespace {

// A face as the radix passes move it: its key less the smallest key in the
// high 32 bits, its place in the list in the low ones; 8 bytes to move, not
// the 24 of the face.
std::uint64_t items[2][renderFaceCapacity];

std::uint32_t keyBits(const VisibleFace& face)
{
    return std::bit_cast<std::uint32_t>(face.key);
}

void insertionSort(VisibleFace* faces, int count)
{
    for (int i = 1; i < count; ++i) {
        const VisibleFace moving = faces[i];
        const std::uint32_t key = keyBits(moving);
        int j = i;
        for (; j > 0 && keyBits(faces[j - 1]) > key; --j)
            faces[j] = faces[j - 1];
        faces[j] = moving;
    }
}

} // namespace

// A few faces are sorted by insertion. More go through stable counting
// passes, least significant byte first, on the keys less the smallest one:
// the keys of one mesh lie close together, so that their differences need
// two or three bytes, not four. All the passes are counted in one go; a
// byte that every key shares leaves the order as it is and is skipped.
// Then the faces are moved once, into their sorted places in buffer.
VisibleFace* sortByKeyBits(VisibleFace* faces, VisibleFace* buffer, int count)
{
    if (count <= 32) {
        insertionSort(faces, count);
        return faces;
    }
    std::uint32_t low = keyBits(faces[0]), high = low;
    for (int i = 1; i < count; ++i) {
        low = std::min(low, keyBits(faces[i]));
        high = std::max(high, keyBits(faces[i]));
    }
    if (low == high)
        return faces;
    std::uint64_t* from = items[0];
    std::uint64_t* to = items[1];
    for (int i = 0; i < count; ++i)
        from[i] = static_cast<std::uint64_t>(keyBits(faces[i]) - low) << 32 | static_cast<std::uint32_t>(i);
    const int passes = (std::bit_width(high - low) + 7) / 8;
    int offsets[4][256] = {};
    for (int i = 0; i < count; ++i)
        for (int p = 0; p < passes; ++p)
            ++offsets[p][from[i] >> (32 + 8 * p) & 0xFF];
    for (int p = 0; p < passes; ++p) {
        const int shift = 32 + 8 * p;
        if (offsets[p][from[0] >> shift & 0xFF] == count)
            continue;
        int sum = 0;
        for (int& o : offsets[p]) {
            const int c = o;
            o = sum;
            sum += c;
        }
        for (int i = 0; i < count; ++i)
            to[offsets[p][from[i] >> shift & 0xFF]++] = from[i];
        std::swap(from, to);
    }
    for (int i = 0; i < count; ++i)
        buffer[i] = faces[static_cast<std::uint32_t>(from[i])];
    return buffer;
}

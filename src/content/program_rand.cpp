#include "content/program_rand.hpp"

#include <cstdint>

namespace {
std::uint32_t state = 1;
}

int programRand()
{
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7fffu);
}

void resetProgramRand()
{
    state = 1;
}

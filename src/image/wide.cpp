// Which form the callers of image/wide.hpp take: the wide one where it is
// built (x86-64) and the processor reports AVX2, unless turned off.
#include "image/wide.hpp"

#include <cstdlib>

namespace {

bool wideBuilt()
{
#if defined(MORVANE_WIDE_VECTORS)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

bool wideOn = wideBuilt();

} // namespace

bool wideVectors()
{
    return wideOn;
}

bool useWideVectors(bool on)
{
    wideOn = on && wideBuilt();
    return wideOn;
}

#if !defined(MORVANE_WIDE_VECTORS)
// Never called: wideVectors() is false where the wide forms are not built.
void wide::tintRow(std::uint32_t*, int, int, int)
{
    std::abort();
}
void wide::addScaledRow(const std::uint32_t*, std::uint32_t*, int, int)
{
    std::abort();
}
void wide::blurSixteenRows(std::uint8_t* const*, int, const short*)
{
    std::abort();
}
void wide::blurLeastEightRows(std::uint8_t* const*, int)
{
    std::abort();
}
#endif

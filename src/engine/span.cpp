#include "engine/span.hpp"

#include "engine/span_inline.hpp"

void spanGouraud(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green, std::int32_t red,
                 std::uint16_t blueStep, std::uint16_t greenStep, std::uint16_t redStep)
{
    using namespace span_detail;
    run<false>(dest, count, startLanes(blue, green, red), Steps(blueStep, greenStep, redStep));
}

void spanGouraudAdditive(std::uint32_t* dest, int count, std::int32_t blue, std::int32_t green, std::int32_t red,
                         std::uint16_t blueStep, std::uint16_t greenStep, std::uint16_t redStep)
{
    using namespace span_detail;
    run<true>(dest, count, startLanes(blue, green, red), Steps(blueStep, greenStep, redStep));
}

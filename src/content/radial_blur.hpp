// The radial streak blur: smears an image outward from a centre, in place,
// so that bright shapes throw long light streaks away from it.
#pragma once

#include "image/image.hpp"

// The widest image the blur takes; wider ones are reported and left alone.
constexpr int maxRadialBlurWidth = 4096;

// Every pixel becomes keep x (a bilinear sample at scale x its distance from
// the centre) + (1 - keep) x its old value, each colour byte in fixed point:
//   K = trunc(keep x 65536), S = trunc(scale x 65536), W = (65535 - K) >> 1;
//   the sample lies at the quadrant's first pixel plus scale x (sx k, sy m)
//   for the pixel k columns and m rows out, its fractions fx (15 bits, steps
//   of S >> 1) and fy (16 bits, steps of S) measured towards the pixel on the
//   right and the row below: with the four neighbours a, b (row) and c, d
//   (row below),
//     top = a + floor((b - a) fx / 32768), bottom = c + floor((d - c) fx / 32768),
//     sample = top + floor((bottom - top) fy / 65536),
//     new = min(255, (sample K >> 16) + (old W >> 15)).
// The quadrants (up-left, up-right, down-left, down-right) are swept from
// the centre outward and each result is written at once, so later samples
// read pixels already blurred and a streak gathers over its whole length.
// All four bytes of a pixel are treated alike.
//
// The centre is truncated to whole pixels and held at least one pixel inside
// every edge, keep to 0..65535/65536 and scale to 0..65535/65536, so no
// sample reaches outside the image (samples at the far edge only ever take
// a weight of 0 from beyond it). Images smaller than 3 x 3 are left alone.
// Not re-entrant: the column tables are static.
void radialBlur(Image& image, float centerX, float centerY, float keep, float scale);

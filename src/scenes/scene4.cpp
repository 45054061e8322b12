// Fourth scene: the camera glides between an endless rippling blue floor and
// a ceiling of drifting clouds, both fading to white with distance, over a
// grid of small dark tiles, while the credits fade in line by line.
//
// The planes are ray-cast only at every 16th pixel in both directions; the
// 16 x 16 blocks between the rays are filled by interpolating texture
// coordinates and brightness in 16.16 fixed point.
#include "scenes/scene4.hpp"

#include "scenes/shared.hpp"
#include "content/cloud_texture.hpp"
#include "content/sky_palette.hpp"
#include "engine/box.hpp"
#include "engine/camera.hpp"
#include "engine/render_mesh.hpp"
#include "image/blur.hpp"
#include "image/font.hpp"
#include "image/ops.hpp"
#include "image/simd.hpp"
#include "scenes/scenes.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

// The six names of the credits panel, first to sixth.
constexpr const char* creditNames[6] = {"kelvru", "osmire", "tazpel", "vunnik", "droseb", "yallim"};

// Where each credit line goes; line k (1..8) starts to fade in k seconds
// into the scene. Names are right-aligned at x = 630.
struct CreditPlacement {
    int image;  // index into creditImages
    int x;      // left edge, or -1 for right-aligned
    int y;
};
constexpr CreditPlacement creditPlacements[8] = {
    {0, 10, 140}, {1, 10, 210}, {2, -1, 105}, {3, -1, 140},
    {7, -1, 175}, {5, -1, 210}, {4, -1, 245}, {6, -1, 280},
};
constexpr int creditRight = 630;

constexpr int blockSize = 16;
constexpr int blockRows = cornerRows - 1, blockColumns = cornerColumns - 1;

Mesh* tileBox = nullptr;

Colour grey(int level)
{
    return static_cast<Colour>(level) * 0x010101u;
}

Colour rgb(int red, int green, int blue)
{
    return static_cast<Colour>(red) << 16 | static_cast<Colour>(green) << 8 | static_cast<Colour>(blue);
}

// origin + dir * t, each component formed in double.
Vector3 along(const Vector3& origin, const Vector3& dir, double t)
{
    return Vector3(static_cast<float>(origin.x + dir.x * t), static_cast<float>(origin.y + dir.y * t),
                   static_cast<float>(origin.z + dir.z * t));
}

Vector3 scaled(const Vector3& a, double s)
{
    return Vector3(static_cast<float>(a.x * s), static_cast<float>(a.y * s), static_cast<float>(a.z * s));
}

// A sixteenth of the difference, modulo 2^32 and shifted arithmetically.
int sixteenth(int from, int to)
{
    return static_cast<int>(static_cast<std::uint32_t>(to) - static_cast<std::uint32_t>(from)) >> 4;
}

void advance(int& value, int step)
{
    value = static_cast<int>(static_cast<std::uint32_t>(value) + static_cast<std::uint32_t>(step));
}

// Bits 16 and up of two vectors of four 32-bit values as eight 16-bit lanes
// (exact: a 32-bit value shifted right by 16 fits 16 bits).
__m128i wholeParts(__m128i first, __m128i second)
{
    return _mm_packs_epi32(_mm_srai_epi32(first, 16), _mm_srai_epi32(second, 16));
}

__m128i spansVector(int u, int v, int shade)
{
    return _mm_set_epi32(0, shade, v, u);
}

// Eight pixels' channels come from (min(255, (c * s >> 8) + 255 - s)),
// which for 0 <= s <= 255 is 255 + floor((c - 256) * s / 256): the signed
// high product of (c - 256) * 128 and 2s, both within 16 bits. So each
// colour is kept as four such factors, the fourth 0 for a fourth byte of 0.
struct ChannelFactors {
    std::int16_t lane[4];
};
ChannelFactors floorFactors[256], skyFactors[256];

// Every texel's colour at every shade s, row s (texel as index).
Colour floorShaded[256][256], skyShaded[256][256];

// The colour of every texel at s = 255, (c * 255) >> 8 per channel: near
// the camera the shade is clamped at 255 and whole blocks have it at every
// corner. Laid out like the texture, one lookup per pixel.
Colour floorNearTexels[65536], skyNearTexels[65536];

// min(255, (c * s >> 8) + 255 - s) per channel, for 0 <= s <= 255.
Colour shadedColour(Colour c, int s)
{
    Colour shaded = 0;
    for (int k = 0; k < 3; ++k)
        shaded |= static_cast<Colour>(std::min(255, (static_cast<int>(c >> 8 * k & 255) * s >> 8) + 255 - s)) << 8 * k;
    return shaded;
}

ChannelFactors channelFactors(Colour c)
{
    ChannelFactors f{};
    for (int k = 0; k < 3; ++k)
        f.lane[k] = static_cast<std::int16_t>((static_cast<int>(c >> 8 * k & 255) - 256) * 128);
    return f;
}

// Eight pixels from their 16.16 coordinates and shades (lanes 0..3 the
// first four pixels, 4..7 the next), written at dst.
void fillEight(std::uint32_t* dst, const ChannelFactors* factors, __m128i u0, __m128i u1, __m128i v0, __m128i v1,
               __m128i shade0, __m128i shade1)
{
    const __m128i base = _mm_set_epi16(0, 255, 255, 255, 0, 255, 255, 255);
    // Texel row from bits 16..23 of v, column from bits 16..23 of u.
    const __m128i index = _mm_or_si128(_mm_slli_epi16(wholeParts(v0, v1), 8),
                                       _mm_and_si128(wholeParts(u0, u1), _mm_set1_epi16(0xFF)));
    // Through memory: eight loads cost less than eight extractions.
    alignas(16) std::uint16_t stored[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(stored), index);
    const volatile std::uint16_t* texelIndex = stored;
    const auto pair = [&](int i) {
        return _mm_unpacklo_epi64(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&factors[cloudTexture[texelIndex[i]]])),
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&factors[cloudTexture[texelIndex[i + 1]]])));
    };
    __m128i s = _mm_min_epi16(_mm_max_epi16(wholeParts(shade0, shade1), _mm_setzero_si128()), _mm_set1_epi16(255));
    s = _mm_add_epi16(s, s);
    const __m128i low = _mm_unpacklo_epi16(s, s), high = _mm_unpackhi_epi16(s, s);
    const __m128i p01 = _mm_add_epi16(_mm_mulhi_epi16(pair(0), _mm_unpacklo_epi32(low, low)), base);
    const __m128i p23 = _mm_add_epi16(_mm_mulhi_epi16(pair(2), _mm_unpackhi_epi32(low, low)), base);
    const __m128i p45 = _mm_add_epi16(_mm_mulhi_epi16(pair(4), _mm_unpacklo_epi32(high, high)), base);
    const __m128i p67 = _mm_add_epi16(_mm_mulhi_epi16(pair(6), _mm_unpackhi_epi32(high, high)), base);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(p01, p23));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4), _mm_packus_epi16(p45, p67));
}

// Texture indices of four pixels, texel row from bits 16..23 of v and
// column from bits 16..23 of u, read back through memory: four loads cost
// less than four extractions.
struct TexelIndices {
    alignas(16) std::uint32_t stored[4];
    TexelIndices(__m128i u, __m128i v)
    {
        _mm_store_si128(reinterpret_cast<__m128i*>(stored),
                        _mm_or_si128(_mm_and_si128(_mm_srli_epi32(v, 8), _mm_set1_epi32(0xFF00)),
                                     _mm_and_si128(_mm_srli_epi32(u, 16), _mm_set1_epi32(0xFF))));
    }
    std::uint32_t operator[](int i) const { return static_cast<const volatile std::uint32_t*>(stored)[i]; }
};

// One row of 16 pixels with the same s everywhere, each pixel's colour
// looked up by its texture index. u and v hold the first four pixels'
// coordinates; du4 and dv4 are four pixel steps.
template <typename ColourAt>
void fillRow(std::uint32_t* dst, __m128i u, __m128i v, __m128i du4, __m128i dv4, ColourAt colourAt)
{
    for (int x = 0; x < blockSize; x += 4) {
        const TexelIndices index(u, v);
        for (int i = 0; i < 4; ++i)
            dst[x + i] = colourAt(index[i]);
        u = _mm_add_epi32(u, du4);
        v = _mm_add_epi32(v, dv4);
    }
}

// Fills the 16 x 16 block at dst from blockSpans, leaving them advanced past
// its last row. The left and right values and their steps travel as
// (u, v, shade) vectors; the four pixels of a row's first group are the
// left values plus 0 to 3 pixel steps, turned into one vector per quantity.
// All sums wrap modulo 2^32 as the scalar advances do. The shade s = shade
// >> 16 is held to 0..255: the truncating steps can take a shade of 0 a
// few 1/65536ths below zero, where s = -1 would push 255 - s past a byte;
// held at 0 it gives the white all channels saturate to anyway.
//
// A row of ray corners lies on a line of equal depth, so along a block's
// row the shade hardly changes: a row whose 16 shades share one s takes
// its colours from that s's row of the shaded table, or at s = 255, the
// most common, from the full-shade colours laid out like the texture.
void fillBlock(std::uint32_t* dst, int stridePixels, const ChannelFactors* factors, const Colour (*shaded)[256],
               const Colour* nearTexels)
{
    BlockSpans& b = blockSpans;
    __m128i left = spansVector(b.uLeft, b.vLeft, b.shadeLeft);
    __m128i right = spansVector(b.uRight, b.vRight, b.shadeRight);
    const __m128i leftStep = spansVector(b.uLeftStep, b.vLeftStep, b.shadeLeftStep);
    const __m128i rightStep = spansVector(b.uRightStep, b.vRightStep, b.shadeRightStep);

    for (int row = 0; row < blockSize; ++row) {
        const __m128i step = _mm_srai_epi32(_mm_sub_epi32(right, left), 4);
        const __m128i p1 = _mm_add_epi32(left, step);
        const __m128i p2 = _mm_add_epi32(p1, step);
        const __m128i p3 = _mm_add_epi32(p2, step);
        const __m128i uv01 = _mm_unpacklo_epi32(left, p1), uv23 = _mm_unpacklo_epi32(p2, p3);
        const __m128i u0 = _mm_unpacklo_epi64(uv01, uv23);
        const __m128i v0 = _mm_unpackhi_epi64(uv01, uv23);
        const __m128i step4 = _mm_slli_epi32(step, 2);
        const __m128i du4 = _mm_shuffle_epi32(step4, 0x00);
        const __m128i dv4 = _mm_shuffle_epi32(step4, 0x55);

        // The shades run monotonically from the first to the sixteenth
        // (taken without wrapping); the same s at both ends is the same
        // everywhere between.
        const int first = b.shadeLeft;
        const std::int64_t last = first + 15 * static_cast<std::int64_t>(sixteenth(first, b.shadeRight));
        if (first >> 16 == last >> 16) {
            const int whole = std::clamp(first >> 16, 0, 255);
            const Colour* colours = shaded[whole];
            if (whole == 255)
                fillRow(dst, u0, v0, du4, dv4, [&](std::uint32_t i) { return nearTexels[i]; });
            else
                fillRow(dst, u0, v0, du4, dv4, [&](std::uint32_t i) { return colours[cloudTexture[i]]; });
        } else {
            const __m128i shade0 = _mm_unpacklo_epi64(_mm_unpackhi_epi32(left, p1), _mm_unpackhi_epi32(p2, p3));
            const __m128i ds4 = _mm_shuffle_epi32(step4, 0xAA);
            const __m128i u1 = _mm_add_epi32(u0, du4), v1 = _mm_add_epi32(v0, dv4);
            const __m128i shade1 = _mm_add_epi32(shade0, ds4);
            fillEight(dst, factors, u0, u1, v0, v1, shade0, shade1);
            const __m128i du8 = _mm_add_epi32(du4, du4), dv8 = _mm_add_epi32(dv4, dv4);
            const __m128i ds8 = _mm_add_epi32(ds4, ds4);
            fillEight(dst + 8, factors, _mm_add_epi32(u0, du8), _mm_add_epi32(u1, du8), _mm_add_epi32(v0, dv8),
                      _mm_add_epi32(v1, dv8), _mm_add_epi32(shade0, ds8), _mm_add_epi32(shade1, ds8));
        }
        left = _mm_add_epi32(left, leftStep);
        right = _mm_add_epi32(right, rightStep);
        advance(b.shadeLeft, b.shadeLeftStep);
        advance(b.shadeRight, b.shadeRightStep);
        dst += stridePixels;
    }

    alignas(16) int done[2][4];
    _mm_store_si128(reinterpret_cast<__m128i*>(done[0]), left);
    _mm_store_si128(reinterpret_cast<__m128i*>(done[1]), right);
    b.uLeft = done[0][0];
    b.vLeft = done[0][1];
    b.uRight = done[1][0];
    b.vRight = done[1][1];
}

// True when every corner of the tile lies clearly outside one side of the
// view pyramid, so renderMesh's clipper would drop all its triangles. The
// corners are transformed exactly as renderMesh does; the margin keeps the
// clipper's interpolated points outside too, so skipping changes no pixel.
bool tileOutOfView(const Camera& camera, const Mesh& tile)
{
    const Matrix mv = multiply(camera.viewMatrix, tile.worldMatrix());
    constexpr int sides = 5;
    int outside[sides] = {};
    for (int i = 0; i < tile.vertexCount; ++i) {
        const Vector3 p = transformPoint(mv, tile.vertices[i]);
        const float margin = 1e-3f * (std::abs(p.x) + std::abs(p.y) + std::abs(p.z) + 1.0f);
        outside[0] += 1.0f - p.z > margin;
        outside[1] += p.x - p.z > margin;
        outside[2] += -p.x - p.z > margin;
        outside[3] += p.y - p.z > margin;
        outside[4] += -p.y - p.z > margin;
    }
    for (int side = 0; side < sides; ++side)
        if (outside[side] == tile.vertexCount)
            return true;
    return false;
}

double clampShade(double s)
{
    // NaN (a hit on the camera's plane) counts as far: white.
    return s > 0.0 ? (s < 255.0 ? s : 255.0) : 0.0;
}

} // namespace

const Plane scenePlanes[2] = {
    {{0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}},
    {{0.0f, 100.0f, 0.0f}, {0.0f, -1.0f, 0.0f}},
};
RayCorner cornerGrid[cornerRows][cornerColumns];
BlockSpans blockSpans;
Image creditImages[8];

Camera sceneCamera(float T)
{
    Camera camera;
    camera.setScreenSize(640, 480);
    camera.setViewport(320.0f, 160.0f, 320.0f, 160.0f);
    camera.position.value = Vector3(0.0f, 2.0f, T);
    camera.target.value = Vector3(1.2f, 1.3f, T + 1.0f);
    camera.fov.value = 2.1991148f;
    camera.updateView();
    return camera;
}

bool intersectRayPlane(const Plane& plane, Vector3 origin, Vector3 dir, float& t)
{
    const Vector3 d = origin - plane.point;
    const double den = dir.dot(plane.normal);
    if (den == 0.0)
        return false;
    t = static_cast<float>(-d.dot(plane.normal) / den);
    return t > 0.0f;
}

int wrapFixed(double x)
{
    // Below 2^63 the conversion to 64 bits truncates exactly; beyond, a
    // double is a whole number and fmod keeps its low bits exactly.
    if (std::abs(x) < 9223372036854775808.0)
        return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int64_t>(x)));
    if (!std::isfinite(x))
        return 0;
    return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int64_t>(std::fmod(x, 4294967296.0))));
}

namespace {

// A corner ray's plane, t, unrippled hit and shade.
void hitCorner(RayCorner& corner, const Matrix& view, const Vector3& origin, const Vector3& dir)
{
    float best = noHitDistance;
    corner.plane = -1;
    for (int i = 0; i < 2; ++i) {
        float t;
        if (intersectRayPlane(scenePlanes[i], origin, dir, t) && t < best) {
            best = t;
            corner.plane = i;
        }
    }
    corner.t = best;
    corner.hit = along(origin, dir, best);

    // Brightness falls with view depth; the ceiling (y = 100) keeps its
    // colour 101 times farther out than the floor.
    const Vector3& p = corner.hit;
    const double z = transformPoint(view, p).z;
    corner.shade = static_cast<int>(clampShade((p.y + 1.0) * 800.0 / z) * 65536.0);
}

// Its texture coordinates, from the hit that hitCorner left.
void mapCorner(RayCorner& corner, const Vector3& origin, const Vector3& dir, float T)
{
    Vector3& p = corner.hit;
    const double time = T;
    if (corner.plane == 0) {
        // The ripple moves the texture lookup only, not the shade.
        const double ripple = 0.3 * std::sin(9.0 * p.z + 0.9 * time) * std::sin(10.0 * p.x + time);
        p = along(origin, dir, corner.t + ripple);
        corner.u = wrapFixed(p.x * 100.0 * 65536.0);  // 100 texels per unit
        corner.v = wrapFixed(p.z * 100.0 * 65536.0);
    } else if (corner.plane == 1) {
        corner.u = wrapFixed(p.x * 65536.0);  // one texel per unit, drifting along z
        corner.v = wrapFixed((10.0 * time + p.z) * 65536.0);
    } else {
        corner.u = corner.v = 0;
    }
}

// The rays' directions, kept between the two passes over the grid.
Vector3 cornerDirections[cornerRows][cornerColumns];

} // namespace

RayCorner castCornerRay(const Matrix& view, const Vector3& origin, const Vector3& dir, float T)
{
    RayCorner corner;
    hitCorner(corner, view, origin, dir);
    mapCorner(corner, origin, dir, T);
    return corner;
}

void fillFloorBlock(std::uint32_t* dst, int stridePixels)
{
    fillBlock(dst, stridePixels, floorFactors, floorShaded, floorNearTexels);
}

void fillSkyBlock(std::uint32_t* dst, int stridePixels)
{
    fillBlock(dst, stridePixels, skyFactors, skyShaded, skyNearTexels);
}

void fillCornerBlocks(Image& frame)
{
    BlockSpans& b = blockSpans;
    const int stride = frame.pitch / 4;
    for (int by = 0; by < blockRows; ++by)
        for (int bx = 0; bx < blockColumns; ++bx) {
            const RayCorner& tl = cornerGrid[by][bx];
            const RayCorner& tr = cornerGrid[by][bx + 1];
            const RayCorner& bl = cornerGrid[by + 1][bx];
            const RayCorner& br = cornerGrid[by + 1][bx + 1];
            b.uLeft = tl.u;
            b.vLeft = tl.v;
            b.shadeLeft = tl.shade;
            b.uRight = tr.u;
            b.vRight = tr.v;
            b.shadeRight = tr.shade;
            b.uLeftStep = sixteenth(tl.u, bl.u);
            b.vLeftStep = sixteenth(tl.v, bl.v);
            b.shadeLeftStep = sixteenth(tl.shade, bl.shade);
            b.uRightStep = sixteenth(tr.u, br.u);
            b.vRightStep = sixteenth(tr.v, br.v);
            b.shadeRightStep = sixteenth(tr.shade, br.shade);
            std::uint32_t* dst = frame.row(blockSize * by) + blockSize * bx;
            if (tl.plane == 0)
                fillFloorBlock(dst, stride);
            else
                fillSkyBlock(dst, stride);
        }
}

float creditFade(float t)
{
    if (t < 0.0f)
        return 0.0f;
    if (t > 2.0f)
        return 1.0f;
    const double s = std::sin(t * std::numbers::pi / 4.0);
    return static_cast<float>(s * s);
}

void addCredits(Image& frame, float T)
{
    for (int k = 1; k <= 8; ++k) {
        const CreditPlacement& place = creditPlacements[k - 1];
        const Image& image = creditImages[place.image];
        const int x = place.x >= 0 ? place.x : creditRight - image.width;
        const float fade = creditFade(T - static_cast<float>(k));
        if (fade > 0.0f)  // adding with factor 0 changes nothing
            addImageScaled(image, frame, 0, 0, x, place.y, image.width, image.height, fade);
    }
}

void prepareScene4()
{
    tileBox = makeBox(1.0f, 0.1f, 1.0f);

    buildSkyPalette();
    // The floor is the sky's formula with the colour (0, 0, texel): blue =
    // (texel * s >> 8) + 255 - s, red = green = 255 - s.
    for (int e = 0; e < 256; ++e) {
        floorFactors[e] = channelFactors(static_cast<Colour>(e));
        skyFactors[e] = channelFactors(skyPalette[e]);
    }
    for (CloudOctave& octave : cloudOctaves)
        smoothRandomGrid(octave.next);
    buildCloudTexture(24.0f);
    for (int s = 0; s < 256; ++s)
        for (int e = 0; e < 256; ++e) {
            floorShaded[s][e] = shadedColour(static_cast<Colour>(e), s);
            skyShaded[s][e] = shadedColour(skyPalette[e], s);
        }
    for (int i = 0; i < 65536; ++i) {
        floorNearTexels[i] = floorShaded[255][cloudTexture[i]];
        skyNearTexels[i] = skyShaded[255][cloudTexture[i]];
    }

    const char* texts[8] = {"he was hiding", "among elite people"};
    Colour colours[8] = {grey(255), grey(255), grey(160), grey(224), grey(224), grey(224), grey(224),
                         rgb(112, 176, 255)};
    for (int i = 0; i < 6; ++i)
        texts[2 + i] = creditNames[i];
    for (int i = 0; i < 8; ++i) {
        renderTextImage(font, creditImages[i], texts[i], colours[i], 0);
        blurImage(creditImages[i], 0.0f, 0.8f, 0.8f, 0.8f);
    }
}

void scene4(Image& frame, float, float sceneTime, float, float, int)
{
    const float T = sceneTime;
    const Camera camera = sceneCamera(T);
    const Vector3 eye = camera.position.value;

    // The planes are seen through a narrower horizontal field than the tiles
    // drawn with the same camera (the directions keep the focal pre-scale).
    const Matrix toWorld = camera.viewDirectionsToWorld();
    const Vector3 topLeft = transformPoint(toWorld, -1.0f, 1.0f, 1.0f).normalised();
    const Vector3 topRight = transformPoint(toWorld, 1.0f, 1.0f, 1.0f).normalised();
    const Vector3 bottomLeft = transformPoint(toWorld, -1.0f, -1.0f, 1.0f).normalised();
    const Vector3 columnStep = scaled(scaled(topRight - topLeft, 0.0015625), 16.0);
    const Vector3 rowStep = scaled(scaled(bottomLeft - topLeft, 0.003125), 16.0);

    // Two passes, so that the divisions of many rays overlap before the
    // floor's ripple calls the sine.
    Vector3 rowStart = topLeft;
    for (int r = 0; r < cornerRows; ++r) {
        Vector3 direction = rowStart;
        for (int c = 0; c < cornerColumns; ++c) {
            cornerDirections[r][c] = direction.normalised();
            hitCorner(cornerGrid[r][c], camera.viewMatrix, eye, cornerDirections[r][c]);
            direction = direction + columnStep;
        }
        rowStart = rowStart + rowStep;
    }
    for (int r = 0; r < cornerRows; ++r)
        for (int c = 0; c < cornerColumns; ++c)
            mapCorner(cornerGrid[r][c], eye, cornerDirections[r][c], T);

    // Every pixel is filled here, so the frame is not cleared.
    fillCornerBlocks(frame);

    PointLight light;
    light.position.value = eye;
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j) {
            tileBox->position.value = Vector3(static_cast<float>(-15 + 3 * i), 0.0f, static_cast<float>(3 * j));
            tileBox->updateLocalMatrix();
            if (tileOutOfView(camera, *tileBox))
                continue;
            renderMesh(frame, camera, *tileBox, light, rgb(5 * i, 5 * j, 5 * (i + j)), grey(224), Gouraud, false);
        }

    addCredits(frame, T);
}

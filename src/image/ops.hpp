// The plain 2D operations on images: fills, saturating blits, discs, the row
// light. All pixel arithmetic is per byte and exact; see each definition.
// Rows are `pitch` bytes apart; an image without pixels is left alone.
#pragma once

#include "image/image.hpp"

// Clips a copy of w x h pixels from (srcX, srcY) to (dstX, dstY): the
// destination first, then the source. Returns whether anything is left.
bool clipCopyRect(int& srcX, int& srcY, int& dstX, int& dstY, int& w, int& h,
                  int srcW, int srcH, int dstW, int dstH);

// The smallest rectangle that holds every pixel other than 0 (any of its
// four bytes set); width and height are 0 for an image with none. Adding
// the image, plain or scaled, changes nothing outside it.
struct PixelBox {
    int x, y, width, height;
};
PixelBox contentBox(const Image& image);

// Every pixel (width x height, row after row) becomes the colour, fourth byte included.
void clearImage(Image& image, Colour colour);

// Pixels with x0 <= x <= x1 and y0 <= y <= y1 become the colour; the parts
// outside the image are left out, an empty or inverted rectangle draws nothing.
void fillRect(Image& image, int x0, int y0, int x1, int y1, Colour colour);

// Each destination byte (all four) += the source byte, saturating.
void addImage(const Image& src, Image& dst, int srcX, int srcY, int dstX, int dstY, int w, int h);

// Each byte d += (s * trunc(factor * 32767)) >> 15, clamped to 0..255. The
// factor is held to -1..1: beyond 1 the 16-bit multiplier would wrap.
void addImageScaled(const Image& src, Image& dst, int srcX, int srcY, int dstX, int dstY,
                    int w, int h, float factor);

// addImageScaled of the whole of src placed at (x, y), where box holds every
// pixel of src other than 0 (contentBox): only the box is added.
void addBoxScaled(const Image& src, const PixelBox& box, Image& dst, int x, int y, float factor);

// Each byte of every pixel (all four) += the colour's byte, saturating.
void addColour(Image& image, Colour colour);

// Anti-aliased filled disc, sampled at integer pixel coordinates.
void drawDisc(std::uint32_t* pixels, int pitch, int width, int height,
              float cx, float cy, float radius, Colour colour);

// Darkens and brightens the rectangle row by row from drifting smooth noise;
// amount 0 leaves colours almost as they are, 1 gives the full effect. Rows
// and columns outside the image are skipped.
void rowNoiseTint(Image& image, float time, int x, int y, int w, int h, float amount);

// Wraps a new block of width x height pixels expanded from a one-bit bitmap
// (lowest bit first): set bits become 0x00FFFFFF, clear bits 0.
void expandBitmap(Image& image, const std::uint8_t* bits, int width, int height);

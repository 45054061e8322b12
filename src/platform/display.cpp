#include "platform/display.hpp"

#include "platform/display_internal.hpp"
#include "platform/window.hpp"

#include <atomic>
#include <cstring>
#include <new>

namespace {

// Three buffers: one being written by the main thread, one waiting as the
// latest picture, one held by the window thread. Their indices are always a
// permutation of 0, 1, 2, so no buffer is ever written while it is read.
constexpr int ringSize = 3;
constexpr int freshBit = 4;  // set in `latest` while its picture has not been taken

unsigned char* buffers[ringSize] = {};
int surfacePitch = 0;
int surfaceBytes = 0;
bool open = false;
bool openInMemory = false;
bool locked = false;
int writing = 0;    // main thread
int published = 0;  // main thread: the buffer unlocked last
int showing = 0;    // window thread
std::atomic<int> latest{0};

bool useMemory = false;
int refusedDepth = 0;

void freeBuffers()
{
    for (unsigned char*& buffer : buffers) {
        delete[] buffer;
        buffer = nullptr;
    }
}

} // namespace

int xp_screen_open(int width, int height, int depth, int)
{
    if ((depth != 32 && depth != 24) || depth == refusedDepth || width <= 0 || height <= 0)
        return -1;
    if (!useMemory && !xp_window_create())
        return -1;
    if (open)
        xp_screen_close();

    const int pitch = width * (depth / 8);
    surfaceBytes = pitch * height;
    surfacePitch = pitch;
    for (unsigned char*& buffer : buffers) {
        // Zeroed: whatever the frame never covers stays black.
        buffer = new (std::nothrow) unsigned char[static_cast<std::size_t>(surfaceBytes)]();
        if (!buffer) {
            freeBuffers();
            return -1;
        }
    }
    showing = 0;
    published = 1;
    writing = 2;
    latest.store(published, std::memory_order_release);

    if (!useMemory && windowOpenPicture(width, height, depth) != 0) {
        freeBuffers();
        return -1;
    }
    open = true;
    openInMemory = useMemory;
    locked = false;
    return 0;
}

void xp_screen_close()
{
    if (!open)
        return;
    if (!openInMemory)
        windowClosePicture();
    freeBuffers();
    open = false;
    locked = false;
}

int xp_screen_lock(unsigned char** pixels, int* pitch)
{
    *pixels = nullptr;
    *pitch = 0;
    if (!open)
        return -1;
    // The surface keeps what was written to it before, like a single display
    // surface would: start from the picture unlocked last.
    std::memcpy(buffers[writing], buffers[published], static_cast<std::size_t>(surfaceBytes));
    locked = true;
    *pixels = buffers[writing];
    *pitch = surfacePitch;
    return 0;
}

int xp_screen_unlock()
{
    if (!open || !locked)
        return -1;
    locked = false;
    const int previous = latest.exchange(writing | freshBit, std::memory_order_acq_rel);
    published = writing;
    writing = previous & (freshBit - 1);
    if (!openInMemory)
        windowWake();
    return 0;
}

const unsigned char* displayTakeLatest(int* pitch)
{
    if (!(latest.load(std::memory_order_acquire) & freshBit))
        return nullptr;
    showing = latest.exchange(showing, std::memory_order_acq_rel) & (freshBit - 1);
    *pitch = surfacePitch;
    return buffers[showing];
}

void xp_screen_use_memory_surfaces(bool on)
{
    useMemory = on;
}

void xp_screen_refuse_depth(int depth)
{
    refusedDepth = depth;
}

const unsigned char* xp_screen_last_picture(int* pitch)
{
    *pitch = open ? surfacePitch : 0;
    return open ? buffers[published] : nullptr;
}

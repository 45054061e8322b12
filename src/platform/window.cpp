#include "platform/window.hpp"

#include "platform/display.hpp"
#include "platform/display_internal.hpp"
#include "platform/timer.hpp"
#include "platform/window_size.hpp"
#include "platform/x11_window.hpp"

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// Failed and Lost stay until the process ends: a window that could not be
// made is not tried again (its reason was said once), and a window thread
// whose display went away never comes back.
enum class WindowState { None, Starting, Running, Failed, Lost };

std::atomic<WindowState> state{WindowState::None};
std::thread* windowThreadHandle = nullptr;  // deliberately never destroyed at exit
bool exitHandlerRegistered = false;
std::atomic<XpKeyHandler> keyHandler{nullptr};
thread_local bool onWindowThread = false;
std::atomic<bool> windowed{false};

// Owned by the window thread.
SDL_Window* window = nullptr;
SDL_Renderer* renderer = nullptr;
SDL_Texture* texture = nullptr;
Uint32 wakeEventType = static_cast<Uint32>(-1);
std::atomic<bool> wakePending{false};

// One request at a time from the main thread, answered by the window thread.
enum class Request { None, OpenPicture, ClosePicture, Message, Shutdown };
struct Pending {
    Request kind = Request::None;
    int width = 0;
    int height = 0;
    int depth = 0;
    const char* text = nullptr;
    int result = 0;
    bool done = false;
};
std::mutex requestMutex;
std::condition_variable requestAnswered;
Pending pending;

void destroyDisplay()
{
    if (texture)
        SDL_DestroyTexture(texture);
    if (renderer)
        SDL_DestroyRenderer(renderer);
    if (window) {
        unmapX11Window(window);
        SDL_DestroyWindow(window);
    }
    texture = nullptr;
    renderer = nullptr;
    window = nullptr;
}

// Every close request ends the process at once, wherever the main thread is.
[[noreturn]] void endOnCloseRequest()
{
    destroyDisplay();
    std::fflush(nullptr);
    std::_Exit(0);
}

void showPicture()
{
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_RenderClear(renderer);
    if (texture)
        SDL_RenderCopy(renderer, texture, nullptr, nullptr);
    SDL_RenderPresent(renderer);
}

void showLatest()
{
    if (!texture)
        return;
    int pitch = 0;
    const unsigned char* pixels = displayTakeLatest(&pitch);
    if (!pixels)
        return;
    SDL_UpdateTexture(texture, nullptr, pixels, pitch);
    showPicture();
}

int keyCode(SDL_Keycode key)
{
    if (key == SDLK_ESCAPE)
        return 27;
    if (key >= SDLK_a && key <= SDLK_z)
        return 'A' + (key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9)
        return '0' + (key - SDLK_0);
    if (key == SDLK_SPACE)
        return ' ';
    if (key == SDLK_RETURN)
        return 13;
    return 0;
}

void handleEvent(const SDL_Event& event)
{
    switch (event.type) {
    case SDL_QUIT:
        endOnCloseRequest();
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE)
            endOnCloseRequest();
        if (event.window.event == SDL_WINDOWEVENT_EXPOSED || event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
            showPicture();
        break;
    case SDL_KEYDOWN: {
        const XpKeyHandler handler = keyHandler.load(std::memory_order_acquire);
        const int code = keyCode(event.key.keysym.sym);
        // An auto-repeat never reaches the handler; a held Escape closes the window.
        if (handler && !event.key.repeat) {
            if (code)
                handler(code, 1);
        } else if (code == 27) {
            endOnCloseRequest();
        }
        break;
    }
    case SDL_KEYUP: {
        const XpKeyHandler handler = keyHandler.load(std::memory_order_acquire);
        const int code = keyCode(event.key.keysym.sym);
        if (handler && code)
            handler(code, 0);
        break;
    }
    default:
        if (event.type == wakeEventType)
            wakePending.store(false, std::memory_order_relaxed);
        break;
    }
}

int openPicture(int width, int height, int depth)
{
    const Uint32 format = depth == 32 ? SDL_PIXELFORMAT_RGB888 : SDL_PIXELFORMAT_BGR24;
    SDL_Texture* made = SDL_CreateTexture(renderer, format, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (!made) {
        std::fprintf(stderr, "xp_screen_open: no %d-bit texture: %s\n", depth, SDL_GetError());
        return -1;
    }
    if (texture)
        SDL_DestroyTexture(texture);
    texture = made;
    // Scaled to the screen with its aspect kept; the rest stays black.
    SDL_RenderSetLogicalSize(renderer, width, height);
    showPicture();
    return 0;
}

// Serves the main thread's request, if any. Returns false on shutdown. The
// lock is not held while SDL works, so that a display lost in the middle of
// a request cannot leave the main thread stuck on the lock.
bool serveRequest()
{
    Pending request;
    {
        std::lock_guard<std::mutex> lock(requestMutex);
        if (pending.kind == Request::None || pending.done)
            return true;
        request = pending;
    }
    int result = 0;
    bool keepRunning = true;
    switch (request.kind) {
    case Request::OpenPicture:
        result = openPicture(request.width, request.height, request.depth);
        break;
    case Request::ClosePicture:
        if (texture)
            SDL_DestroyTexture(texture);
        texture = nullptr;
        break;
    case Request::Message:
        result = SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "Morvane message", request.text, window);
        break;
    case Request::Shutdown:
        destroyDisplay();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        state.store(WindowState::None, std::memory_order_release);
        keepRunning = false;
        break;
    case Request::None:
        break;
    }
    {
        std::lock_guard<std::mutex> lock(requestMutex);
        pending.result = result;
        pending.done = true;
    }
    requestAnswered.notify_all();
    return keepRunning;
}

// Waits for the window thread's answer; -1 when the display is lost first.
// The window thread itself never asks: it would wait for an answer only it
// can give.
int ask(Pending request)
{
    if (onWindowThread)
        return -1;
    std::unique_lock<std::mutex> lock(requestMutex);
    request.done = false;
    pending = request;
    lock.unlock();
    windowWake();
    lock.lock();
    requestAnswered.wait(lock, [] { return pending.done || state.load(std::memory_order_acquire) == WindowState::Lost; });
    const int result = pending.done ? pending.result : -1;
    pending = Pending{};
    return result;
}

// Called when the connection to the display breaks; must not return. Ending
// the process here would run the exit handlers on the window thread, and
// every later call on the broken connection would fail again. So the show is
// told, and the window thread stays here for good, out of everyone's way,
// while the main thread ends the run.
void onDisplayLost(const char* displayName)
{
    if (state.exchange(WindowState::Lost, std::memory_order_acq_rel) != WindowState::Lost)
        std::fprintf(stderr, "xp_window: lost the connection to the display %s; the show ends\n", displayName);
    {
        // Taken once so that a waiting ask either sees Lost or is woken.
        std::lock_guard<std::mutex> lock(requestMutex);
    }
    requestAnswered.notify_all();
    if (!onWindowThread) {
        // Another thread's connection (a message box without a window):
        // nothing is drawn and nothing waits for that thread.
        std::fflush(nullptr);
        std::_Exit(1);
    }
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}

void failStart(const char* what)
{
    std::fprintf(stderr, "xp_window_create: %s: %s\n", what, SDL_GetError());
    destroyDisplay();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    state.store(WindowState::Failed, std::memory_order_release);
}

// The render driver and the window flags it needs: OpenGL, SDL's first
// choice here, or the software one (without OpenGL, or when asked for by
// name). A window made without the flags its renderer needs is made again by
// SDL_CreateRenderer, under a new window-system id, and the key presses that
// reached the first one are lost. Any other driver asked for by name is left
// to SDL.
struct RendererChoice {
    int index = -1;
    Uint32 windowFlags = 0;
};

RendererChoice chooseRenderer(bool softwareOnly)
{
    const char* requested = SDL_GetHint(SDL_HINT_RENDER_DRIVER);
    for (int i = 0; i < SDL_GetNumRenderDrivers(); ++i) {
        SDL_RendererInfo info{};
        if (SDL_GetRenderDriverInfo(i, &info) != 0)
            continue;
        if (!softwareOnly && requested && *requested && SDL_strcasecmp(requested, info.name) != 0)
            continue;
        if (!softwareOnly && std::strcmp(info.name, "opengl") == 0)
            return {i, SDL_WINDOW_OPENGL};
        if (std::strcmp(info.name, "software") == 0)
            return {i, 0};
    }
    return {};
}

bool makeWindowAndRenderer(const SDL_DisplayMode& desktop, bool softwareOnly)
{
    const RendererChoice choice = chooseRenderer(softwareOnly);
    if (windowed.load(std::memory_order_relaxed)) {
        // Centred on the desktop, clear of its panels.
        SDL_Rect usable{0, 0, desktop.w, desktop.h};
        SDL_GetDisplayUsableBounds(0, &usable);
        const WindowSize size = windowedSize(usable.w, usable.h);
        window = SDL_CreateWindow("Morvane", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, size.width, size.height,
                                  SDL_WINDOW_RESIZABLE | choice.windowFlags);
    } else {
        window = SDL_CreateWindow("Morvane", 0, 0, desktop.w, desktop.h,
                                  SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS | choice.windowFlags);
    }
    if (window)
        renderer = SDL_CreateRenderer(window, choice.index, 0);
    if (renderer)
        return true;
    destroyDisplay();
    return false;
}

void windowThread()
{
    onWindowThread = true;
    SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "xp_window_create: no display: %s\n", SDL_GetError());
        state.store(WindowState::Failed, std::memory_order_release);
        return;
    }
    // SDL falls back to an invisible off-screen window when there is no
    // display; a show nobody can see is a failure unless asked for.
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) &&
        !(requested && *requested)) {
        SDL_SetError("only the %s video driver is available", driver);
        return failStart("no display");
    }
    if (driver && std::strcmp(driver, "x11") == 0)
        watchX11DisplayLoss(onDisplayLost);
    // The whole screen from its top-left corner, also where no window
    // manager is there to honour the full-screen request.
    SDL_DisplayMode desktop{};
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0 || desktop.w <= 0 || desktop.h <= 0) {
        desktop.w = 640;
        desktop.h = 480;
    }
    // Without OpenGL the software renderer draws into the window's own surface.
    if (!makeWindowAndRenderer(desktop, false) && !makeWindowAndRenderer(desktop, true))
        return failStart("no window with a renderer");
    if (!windowed.load(std::memory_order_relaxed))
        SDL_ShowCursor(SDL_DISABLE);
    wakeEventType = SDL_RegisterEvents(1);
    showPicture();
    state.store(WindowState::Running, std::memory_order_release);

    for (;;) {
        SDL_Event event;
        if (SDL_WaitEventTimeout(&event, 10)) {
            do
                handleEvent(event);
            while (SDL_PollEvent(&event));
        }
        if (!serveRequest())
            return;
        showLatest();
    }
}

} // namespace

bool windowExists()
{
    return state.load(std::memory_order_acquire) == WindowState::Running;
}

void windowWake()
{
    if (!windowExists() || wakeEventType == static_cast<Uint32>(-1) ||
        wakePending.exchange(true, std::memory_order_relaxed))
        return;
    SDL_Event event{};
    event.type = wakeEventType;
    if (SDL_PushEvent(&event) != 1)
        wakePending.store(false, std::memory_order_relaxed);
}

int windowOpenPicture(int width, int height, int depth)
{
    if (!windowExists())
        return -1;
    Pending request;
    request.kind = Request::OpenPicture;
    request.width = width;
    request.height = height;
    request.depth = depth;
    return ask(request);
}

void windowClosePicture()
{
    if (!windowExists())
        return;
    Pending request;
    request.kind = Request::ClosePicture;
    ask(request);
}

void xp_window_set_windowed(bool on)
{
    windowed.store(on, std::memory_order_relaxed);
}

int xp_window_create()
{
    const WindowState now = state.load(std::memory_order_acquire);
    if (now == WindowState::Running)
        return 1;
    if (now == WindowState::Failed || now == WindowState::Lost)
        return 0;
    if (!exitHandlerRegistered)
        exitHandlerRegistered = std::atexit(xp_window_shutdown) == 0;

    state.store(WindowState::Starting, std::memory_order_release);
    try {
        windowThreadHandle = new std::thread(windowThread);
    } catch (...) {
        std::fprintf(stderr, "xp_window_create: the window thread cannot be started\n");
        state.store(WindowState::Failed, std::memory_order_release);
        return 0;
    }
    while (state.load(std::memory_order_acquire) == WindowState::Starting)
        xp_sleep(20);
    if (windowExists())
        return 1;
    if (state.load(std::memory_order_acquire) == WindowState::Lost)
        return 0;  // the thread stays where the lost display left it
    // A window that cannot be made is a failure of the caller, not the end of the run.
    windowThreadHandle->join();
    delete windowThreadHandle;
    windowThreadHandle = nullptr;
    return 0;
}

void xp_window_shutdown()
{
    // The process is ending on the window thread itself (a library gave up):
    // waiting for that thread's answer would never end.
    if (onWindowThread)
        return;
    xp_screen_close();
    if (windowExists()) {
        Pending request;
        request.kind = Request::Shutdown;
        ask(request);
    }
    if (xp_window_lost()) {
        // The stopped window thread keeps the broken connection locked, and
        // the display libraries' own exit handlers would wait for it for ever.
        std::fflush(nullptr);
        std::_Exit(1);
    }
    if (!windowThreadHandle || state.load(std::memory_order_acquire) != WindowState::None)
        return;
    windowThreadHandle->join();
    delete windowThreadHandle;
    windowThreadHandle = nullptr;
}

int xp_keyboard_init(XpKeyHandler handler)
{
    if (!windowExists() && !xp_window_create())
        return -1;
    keyHandler.store(handler, std::memory_order_release);
    return 0;
}

bool xp_window_lost()
{
    return state.load(std::memory_order_acquire) == WindowState::Lost;
}

void xp_message(const char* text)
{
    int shown = -1;
    if (windowExists()) {
        Pending request;
        request.kind = Request::Message;
        request.text = text;
        shown = ask(request);
    } else {
        shown = SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "Morvane message", text, nullptr);
    }
    // Where no box can be shown the text still reaches the user.
    if (shown != 0)
        std::fprintf(stderr, "%s\n", text);
}

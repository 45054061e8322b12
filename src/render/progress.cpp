#include "render/progress.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

std::string clockText(double seconds)
{
    const long long whole = std::llround(std::max(seconds, 0.0));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

ExportProgress::ExportProgress(long long drawTotal, long long keepTotal, int fps)
    : drawTotal(std::max(drawTotal, 1LL)), keepTotal(keepTotal), fps(fps), terminal(isatty(STDERR_FILENO) == 1),
      started(std::chrono::steady_clock::now())
{
}

double ExportProgress::elapsed() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

void ExportProgress::update(long long drawn, long long kept)
{
    if (!terminal)
        return;
    const double now = elapsed();
    if (lastShown >= 0.0 && now - lastShown < 0.25)
        return;
    lastShown = now;
    // Frames before the kept range are drawn too and take their share of the time.
    const double speed = now > 0.0 ? static_cast<double>(drawn) / fps / now : 0.0;
    const double left = drawn > 0 ? now * static_cast<double>(drawTotal - drawn) / static_cast<double>(drawn) : 0.0;
    std::fprintf(stderr, "\r%5.1f%%  frame %lld of %lld  %.2fx real time  %s left\x1b[K",
                 100.0 * static_cast<double>(drawn) / static_cast<double>(drawTotal), kept, keepTotal, speed,
                 drawn > 0 ? clockText(left).c_str() : "?");
    lineShown = true;
}

void ExportProgress::stop()
{
    if (lineShown)
        std::fputc('\n', stderr);
    lineShown = false;
}

void ExportProgress::finish(const std::string& path, long long kept, long long bytes)
{
    const double took = elapsed();
    if (lineShown)
        std::fputs("\r\x1b[K", stderr);
    lineShown = false;
    const double seconds = static_cast<double>(kept) / fps;
    std::fprintf(stderr, "morvane-render: wrote %s: %lld frames, %.2f s of video, %.1f MB in %s (%.2fx real time)\n",
                 path.c_str(), kept, seconds, static_cast<double>(bytes) / 1e6, clockText(took).c_str(),
                 took > 0.0 ? static_cast<double>(drawTotal) / fps / took : 0.0);
}

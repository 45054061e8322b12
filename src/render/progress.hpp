// The progress of a long export on standard error: on a terminal one line
// that rewrites itself, otherwise nothing until the summary at the end.
#pragma once

#include <chrono>
#include <string>

class ExportProgress {
public:
    // drawTotal: frames drawn from the show's start to the last one kept;
    // keepTotal: the frames that go into the file.
    ExportProgress(long long drawTotal, long long keepTotal, int fps);

    void update(long long drawn, long long kept);
    // The closing line: what was written, how long it took and how fast.
    void finish(const std::string& path, long long kept, long long bytes);
    // Ends the self-updating line before an error message.
    void stop();

private:
    double elapsed() const;

    long long drawTotal;
    long long keepTotal;
    int fps;
    bool terminal;
    bool lineShown = false;
    std::chrono::steady_clock::time_point started;
    double lastShown = -1.0;
};

// "1:05" for 65.2 seconds, "1:02:03" past an hour.
std::string clockText(double seconds);

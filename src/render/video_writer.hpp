// Encodes the show's frames and its soundtrack into one video file through
// FFmpeg's libraries. The picture is the one the live show puts on screen:
// the 640 x 480 display with the frame at rows 80 to 399 between black
// bands, scaled by a whole number with every pixel repeated.
//
// The file is written under a temporary name beside the target and renamed
// only once it is complete; a writer destroyed before finish() leaves
// nothing behind.
#pragma once

#include "image/image.hpp"

#include <memory>
#include <string>

enum class VideoContainer { none, mp4, mkv, webm };

// The container named by the file's extension (any letter case), or none
// when we cannot write that kind of file.
VideoContainer videoContainerFor(const std::string& path);

extern const char* const videoFormatsText;  // ".mp4, .mkv or .webm"

struct VideoSettings {
    int fps = 60;
    int scale = 2;
    // Index, on the show's frame clock, of the first frame written: the audio
    // before that frame's time is dropped so that sound and picture start
    // together.
    long long firstFrame = 0;
};

constexpr int videoAudioRate = 44100;  // the rate writeAudio takes

class VideoWriter {
public:
    VideoWriter();
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // Sets up the encoders and creates the temporary file.
    bool open(const std::string& path, const VideoSettings& settings, std::string& error);
    // One 640 x 320 frame of the show.
    bool writeFrame(const Image& frame, std::string& error);
    // Interleaved stereo floats at 44,100 Hz, counted from the show's start.
    bool writeAudio(const float* interleaved, int frames, std::string& error);
    // Makes the audio exactly as long as the video (silence fills a short
    // end), drains the encoders and gives the file its name.
    bool finish(std::string& error);
    // Drops the unfinished file.
    void abandon();

    long long framesWritten() const;

    struct State;

private:
    std::unique_ptr<State> state;
};

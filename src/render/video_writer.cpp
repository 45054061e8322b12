#include "render/video_writer.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

const char* const videoFormatsText = ".mp4, .mkv or .webm";

VideoContainer videoContainerFor(const std::string& path)
{
    const std::string extension = std::filesystem::path(path).extension().string();
    if (strcasecmp(extension.c_str(), ".mp4") == 0)
        return VideoContainer::mp4;
    if (strcasecmp(extension.c_str(), ".mkv") == 0)
        return VideoContainer::mkv;
    if (strcasecmp(extension.c_str(), ".webm") == 0)
        return VideoContainer::webm;
    return VideoContainer::none;
}

namespace {

constexpr int displayWidth = 640;
constexpr int displayHeight = 480;
constexpr int frameTop = 80;
constexpr int audioChunk = 4096;     // input samples converted at a time
constexpr int convertedRoom = 8192;  // output room for one chunk, at up to twice the rate

struct Codecs {
    const char* muxer;
    const char* video;
    const char* audio;
};

// H.264 and AAC play in browsers and common players, and MP4 marks where
// AAC's priming and padding start and end; Matroska cannot mark that for
// AAC, so it carries the sound losslessly as FLAC, which has neither. WebM
// allows only VP9 (or VP8, AV1) with Opus or Vorbis.
Codecs codecsFor(VideoContainer container)
{
    switch (container) {
    case VideoContainer::mp4:
        return {"mp4", "libx264", "aac"};
    case VideoContainer::mkv:
        return {"matroska", "libx264", "flac"};
    case VideoContainer::webm:
        return {"webm", "libvpx-vp9", "libopus"};
    case VideoContainer::none:
        break;
    }
    return {nullptr, nullptr, nullptr};
}

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The sample index that a frame's time falls on, rounded to the nearest.
long long sampleAtFrame(long long frame, int fps)
{
    return (frame * videoAudioRate * 2 + fps) / (2LL * fps);
}

} // namespace

struct VideoWriter::State {
    std::string path;
    std::string tempPath;
    VideoSettings settings;
    int width = 0;
    int height = 0;

    AVFormatContext* format = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    SwsContext* scaler = nullptr;
    SwrContext* resampler = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* picture = nullptr;
    AVFrame* sound = nullptr;
    AVPacket* packet = nullptr;
    std::uint8_t** converted = nullptr;
    std::vector<std::uint32_t> canvas;  // the scaled display, blue-green-red-unused

    long long frames = 0;
    long long audioIn = 0;     // samples given, from the show's start
    long long audioStart = 0;  // the first sample kept
    long long audioPts = 0;    // samples sent to the encoder
    bool fileOpen = false;
    bool finished = false;

    ~State()
    {
        discard();
        if (converted)
            av_freep(&converted[0]);
        av_freep(&converted);
        av_packet_free(&packet);
        av_frame_free(&sound);
        av_frame_free(&picture);
        if (fifo)
            av_audio_fifo_free(fifo);
        swr_free(&resampler);
        sws_freeContext(scaler);
        avcodec_free_context(&audio);
        avcodec_free_context(&video);
        avformat_free_context(format);
    }

    void discard()
    {
        if (!fileOpen)
            return;
        avio_closep(&format->pb);
        std::remove(tempPath.c_str());
        fileOpen = false;
    }

    bool fail(std::string& error, const std::string& what)
    {
        error = "cannot write " + path + ": " + what;
        discard();
        return false;
    }

    // Sends every packet the encoder has ready to the file.
    bool drain(AVCodecContext* codec, AVStream* stream, std::string& error)
    {
        for (;;) {
            int result = avcodec_receive_packet(codec, packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return true;
            if (result < 0)
                return fail(error, std::string(codec->codec->name) + " failed: " + avError(result));
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            result = av_interleaved_write_frame(format, packet);
            if (result >= 0 && format->pb->error < 0)
                result = format->pb->error;
            if (result < 0)
                return fail(error, avError(result));
        }
    }

    bool send(AVCodecContext* codec, AVStream* stream, const AVFrame* input, std::string& error)
    {
        const int result = avcodec_send_frame(codec, input);
        if (result < 0)
            return fail(error, std::string(codec->codec->name) + " failed: " + avError(result));
        return drain(codec, stream, error);
    }

    // Encoder samples that cover the frames written so far.
    long long audioLimit() const
    {
        const long long kept = sampleAtFrame(settings.firstFrame + frames, settings.fps) - audioStart;
        return (kept * audio->sample_rate + videoAudioRate / 2) / videoAudioRate;
    }

    // Encodes whole encoder frames from the queue, never past the pictures
    // written so far; at the end also the last, shorter one.
    bool encodeQueuedAudio(bool toTheEnd, std::string& error)
    {
        const int frameSize = audio->frame_size > 0 ? audio->frame_size : 1024;
        const long long limit = audioLimit();
        for (;;) {
            const long long room = limit - audioPts;
            const int queued = av_audio_fifo_size(fifo);
            const int count = static_cast<int>(std::min<long long>({frameSize, queued, room}));
            if (count <= 0 || (count < frameSize && !toTheEnd))
                break;
            if (av_frame_make_writable(sound) < 0)
                return fail(error, "out of memory");
            sound->nb_samples = count;
            if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(sound->data), count) != count)
                return fail(error, "the audio queue lost samples");
            sound->pts = audioPts;
            audioPts += count;
            if (!send(audio, audioStream, sound, error))
                return false;
        }
        return true;
    }

    bool queueConverted(int count, std::string& error)
    {
        if (count < 0)
            return fail(error, "resampling failed: " + avError(count));
        if (count > 0 && av_audio_fifo_write(fifo, reinterpret_cast<void**>(converted), count) != count)
            return fail(error, "out of memory");
        return encodeQueuedAudio(false, error);
    }

    // Converts and queues kept samples (null input: silence).
    bool addAudio(const float* interleaved, long long count, std::string& error)
    {
        static const float silence[audioChunk * 2] = {};
        while (count > 0) {
            const int n = static_cast<int>(std::min<long long>(count, audioChunk));
            const std::uint8_t* in = reinterpret_cast<const std::uint8_t*>(interleaved ? interleaved : silence);
            if (!queueConverted(swr_convert(resampler, converted, convertedRoom, &in, n), error))
                return false;
            if (interleaved)
                interleaved += 2 * n;
            count -= n;
        }
        return true;
    }

    bool openVideo(const AVCodec* codec, VideoContainer container, std::string& error);
    bool openAudio(const AVCodec* codec, std::string& error);
};

bool VideoWriter::State::openVideo(const AVCodec* codec, VideoContainer container, std::string& error)
{
    video = avcodec_alloc_context3(codec);
    if (!video)
        return fail(error, "out of memory");
    video->width = width;
    video->height = height;
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->time_base = AVRational{1, settings.fps};
    video->framerate = AVRational{settings.fps, 1};
    video->gop_size = 2 * settings.fps;  // a key frame every two seconds, for seeking
    video->sample_aspect_ratio = AVRational{1, 1};
    // Full-colour pixels converted with the BT.709 matrix into video range.
    video->color_range = AVCOL_RANGE_MPEG;
    video->colorspace = AVCOL_SPC_BT709;
    video->color_primaries = AVCOL_PRI_BT709;
    video->color_trc = AVCOL_TRC_BT709;
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (container == VideoContainer::webm) {
        // Constant quality; the quick settings keep a whole show to minutes.
        video->bit_rate = 0;
        av_opt_set(video->priv_data, "crf", "28", 0);
        av_opt_set(video->priv_data, "deadline", "realtime", 0);
        av_opt_set(video->priv_data, "cpu-used", "8", 0);
        av_opt_set(video->priv_data, "row-mt", "1", 0);
    } else {
        av_opt_set(video->priv_data, "preset", "veryfast", 0);
        av_opt_set(video->priv_data, "crf", "18", 0);
    }
    int result = avcodec_open2(video, codec, nullptr);
    if (result < 0)
        return fail(error, std::string("the ") + codec->name + " encoder does not start: " + avError(result));
    videoStream = avformat_new_stream(format, nullptr);
    if (!videoStream || avcodec_parameters_from_context(videoStream->codecpar, video) < 0)
        return fail(error, "out of memory");
    videoStream->time_base = video->time_base;
    videoStream->avg_frame_rate = video->framerate;

    scaler = sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, AV_PIX_FMT_YUV420P,
                            SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (!scaler)
        return fail(error, "no colour conversion to yuv420p");
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);

    picture = av_frame_alloc();
    if (!picture)
        return fail(error, "out of memory");
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width;
    picture->height = height;
    if (av_frame_get_buffer(picture, 0) < 0)
        return fail(error, "out of memory");
    canvas.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0u);
    return true;
}

bool VideoWriter::State::openAudio(const AVCodec* codec, std::string& error)
{
    audio = avcodec_alloc_context3(codec);
    if (!audio)
        return fail(error, "out of memory");
    // Our own rate where the encoder takes it (AAC); Opus needs 48 kHz.
    int rate = videoAudioRate;
    if (codec->supported_samplerates) {
        rate = codec->supported_samplerates[0];
        for (const int* r = codec->supported_samplerates; *r; ++r)
            if (*r == videoAudioRate || (*r == 48000 && rate != videoAudioRate))
                rate = *r;
    }
    AVSampleFormat sampleFormat = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    audio->sample_rate = rate;
    audio->sample_fmt = sampleFormat;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&audio->ch_layout, &stereo);
    audio->bit_rate = codec->id == AV_CODEC_ID_FLAC ? 0 : 192000;
    audio->time_base = AVRational{1, rate};
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int result = avcodec_open2(audio, codec, nullptr);
    if (result < 0)
        return fail(error, std::string("the ") + codec->name + " encoder does not start: " + avError(result));
    audioStream = avformat_new_stream(format, nullptr);
    if (!audioStream || avcodec_parameters_from_context(audioStream->codecpar, audio) < 0)
        return fail(error, "out of memory");
    audioStream->time_base = audio->time_base;

    result = swr_alloc_set_opts2(&resampler, &stereo, sampleFormat, rate, &stereo, AV_SAMPLE_FMT_FLT,
                                 videoAudioRate, 0, nullptr);
    if (result < 0 || swr_init(resampler) < 0)
        return fail(error, "no resampling to the encoder's audio format");
    fifo = av_audio_fifo_alloc(sampleFormat, 2, convertedRoom);
    sound = av_frame_alloc();
    if (!fifo || !sound ||
        av_samples_alloc_array_and_samples(&converted, nullptr, 2, convertedRoom, sampleFormat, 0) < 0)
        return fail(error, "out of memory");
    sound->format = sampleFormat;
    sound->sample_rate = rate;
    av_channel_layout_copy(&sound->ch_layout, &stereo);
    sound->nb_samples = audio->frame_size > 0 ? audio->frame_size : 1024;
    if (av_frame_get_buffer(sound, 0) < 0)
        return fail(error, "out of memory");
    return true;
}

VideoWriter::VideoWriter() = default;
VideoWriter::~VideoWriter() = default;

bool VideoWriter::open(const std::string& path, const VideoSettings& settings, std::string& error)
{
    state = std::make_unique<State>();
    State& s = *state;
    s.path = path;
    s.settings = settings;
    s.width = displayWidth * settings.scale;
    s.height = displayHeight * settings.scale;
    s.audioStart = sampleAtFrame(settings.firstFrame, settings.fps);
    s.audioIn = 0;

    // FFmpeg's own notes would break our progress line; its errors come back to us.
    av_log_set_level(AV_LOG_ERROR);
    s.packet = av_packet_alloc();
    if (!s.packet)
        return s.fail(error, "out of memory");

    const VideoContainer container = videoContainerFor(path);
    const Codecs codecs = codecsFor(container);
    if (!codecs.muxer)
        return s.fail(error, std::string("the file name must end in ") + videoFormatsText);
    const AVCodec* videoCodec = avcodec_find_encoder_by_name(codecs.video);
    const AVCodec* audioCodec = avcodec_find_encoder_by_name(codecs.audio);
    if (!videoCodec || !audioCodec)
        return s.fail(error, std::string("this FFmpeg has no ") + (videoCodec ? codecs.audio : codecs.video) +
                                 " encoder");

    const std::filesystem::path target(path);
    std::error_code ignored;
    if (std::filesystem::is_directory(target, ignored))
        return s.fail(error, "that is a directory");
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%d.part", static_cast<int>(getpid()));
    std::string hidden(1, '.');
    hidden.append(target.filename().string()).append(suffix);
    s.tempPath = (target.parent_path() / hidden).string();
    int result = avformat_alloc_output_context2(&s.format, nullptr, codecs.muxer, s.tempPath.c_str());
    if (result < 0 || !s.format)
        return s.fail(error, "no " + std::string(codecs.muxer) + " writer: " + avError(result));
    if (!s.openVideo(videoCodec, container, error) || !s.openAudio(audioCodec, error))
        return false;

    result = avio_open(&s.format->pb, s.tempPath.c_str(), AVIO_FLAG_WRITE);
    if (result < 0)
        return s.fail(error, avError(result));
    s.fileOpen = true;
    AVDictionary* options = nullptr;
    if (container == VideoContainer::mp4)
        av_dict_set(&options, "movflags", "+faststart", 0);  // playable while it downloads
    result = avformat_write_header(s.format, &options);
    av_dict_free(&options);
    if (result < 0)
        return s.fail(error, avError(result));
    return true;
}

bool VideoWriter::writeFrame(const Image& frame, std::string& error)
{
    if (!state || !state->fileOpen)
        return false;
    State& s = *state;
    const int scale = s.settings.scale;
    const int columns = std::min(frame.width, displayWidth);
    const int rows = std::min(frame.height, displayHeight - frameTop);
    // Every pixel repeated scale times across and down: nearest-neighbour
    // scaling that keeps the edges sharp. The bands stay black.
    for (int y = 0; y < rows; ++y) {
        const std::uint32_t* in = frame.row(y);
        std::uint32_t* out = s.canvas.data() + static_cast<std::size_t>((frameTop + y) * scale) * s.width;
        for (int x = 0; x < columns; ++x)
            std::fill_n(out + x * scale, scale, in[x]);
        for (int k = 1; k < scale; ++k)
            std::memcpy(out + static_cast<std::size_t>(k) * s.width, out, static_cast<std::size_t>(s.width) * 4);
    }
    if (av_frame_make_writable(s.picture) < 0)
        return s.fail(error, "out of memory");
    const std::uint8_t* source[1] = {reinterpret_cast<const std::uint8_t*>(s.canvas.data())};
    const int sourcePitch[1] = {s.width * 4};
    sws_scale(s.scaler, source, sourcePitch, 0, s.height, s.picture->data, s.picture->linesize);
    s.picture->pts = s.frames;
    if (!s.send(s.video, s.videoStream, s.picture, error))
        return false;
    ++s.frames;
    return s.encodeQueuedAudio(false, error);
}

bool VideoWriter::writeAudio(const float* interleaved, int frames, std::string& error)
{
    if (!state || !state->fileOpen)
        return false;
    State& s = *state;
    // Samples before the first frame's time are not recorded.
    const long long skip = std::clamp<long long>(s.audioStart - s.audioIn, 0, frames);
    s.audioIn += frames;
    return s.addAudio(interleaved + 2 * skip, frames - skip, error);
}

bool VideoWriter::finish(std::string& error)
{
    if (!state || !state->fileOpen)
        return false;
    State& s = *state;
    // The sound lasts exactly as long as the pictures: silence fills a song
    // that ended early.
    const long long wanted = sampleAtFrame(s.settings.firstFrame + s.frames, s.settings.fps);
    const long long have = std::max(s.audioIn, s.audioStart);
    if (have < wanted && !s.addAudio(nullptr, wanted - have, error))
        return false;
    for (;;) {
        const int count = swr_convert(s.resampler, s.converted, convertedRoom, nullptr, 0);
        if (!s.queueConverted(count, error))
            return false;
        if (count == 0)
            break;
    }
    // Rounding in the resampler may leave the queue a few samples short.
    const long long missing = s.audioLimit() - s.audioPts - av_audio_fifo_size(s.fifo);
    if (missing > 0) {
        av_samples_set_silence(s.converted, 0, convertedRoom, 2, s.audio->sample_fmt);
        if (!s.queueConverted(static_cast<int>(std::min<long long>(missing, convertedRoom)), error))
            return false;
    }
    if (!s.encodeQueuedAudio(true, error) || !s.send(s.audio, s.audioStream, nullptr, error) ||
        !s.send(s.video, s.videoStream, nullptr, error))
        return false;

    int result = av_write_trailer(s.format);
    if (result >= 0 && s.format->pb->error < 0)
        result = s.format->pb->error;
    if (result < 0)
        return s.fail(error, avError(result));
    result = avio_closep(&s.format->pb);
    if (result < 0)
        return s.fail(error, avError(result));
    if (std::rename(s.tempPath.c_str(), s.path.c_str()) != 0) {
        const int why = errno;
        std::remove(s.tempPath.c_str());
        s.fileOpen = false;
        error = "cannot write " + s.path + ": " + std::strerror(why);
        return false;
    }
    s.fileOpen = false;
    s.finished = true;
    return true;
}

void VideoWriter::abandon()
{
    if (state)
        state->discard();
}

long long VideoWriter::framesWritten() const
{
    return state ? state->frames : 0;
}

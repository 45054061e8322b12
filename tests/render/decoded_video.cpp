#include "decoded_video.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>

namespace {

struct Decoder {
    AVCodecContext* context = nullptr;
    int stream = -1;
    ~Decoder() { avcodec_free_context(&context); }
};

bool openDecoder(AVFormatContext* format, AVMediaType type, Decoder& decoder)
{
    decoder.stream = av_find_best_stream(format, type, -1, -1, nullptr, 0);
    if (decoder.stream < 0)
        return false;
    const AVCodecParameters* parameters = format->streams[decoder.stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    decoder.context = codec ? avcodec_alloc_context3(codec) : nullptr;
    return decoder.context && avcodec_parameters_to_context(decoder.context, parameters) >= 0 &&
           avcodec_open2(decoder.context, codec, nullptr) >= 0;
}

// One sample of the decoded sound, full scale 1, in the formats our
// decoders give (AAC and Opus: planar float; FLAC: 16-bit interleaved).
double sampleAt(const AVFrame* frame, int channel, int index)
{
    switch (frame->format) {
    case AV_SAMPLE_FMT_FLTP:
        return reinterpret_cast<const float*>(frame->extended_data[channel])[index];
    case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float*>(frame->extended_data[0])[index * 2 + channel];
    case AV_SAMPLE_FMT_S16:
        return reinterpret_cast<const std::int16_t*>(frame->extended_data[0])[index * 2 + channel] / 32768.0;
    case AV_SAMPLE_FMT_S32:
        return reinterpret_cast<const std::int32_t*>(frame->extended_data[0])[index * 2 + channel] / 2147483648.0;
    default:
        return 1.0;  // unknown: counts as loud, so that a silence check fails
    }
}

void keepAsRgb(const AVFrame* frame, DecodedVideo& out)
{
    SwsContext* sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                     frame->width, frame->height, AV_PIX_FMT_RGB24, SWS_BICUBIC | SWS_ACCURATE_RND,
                                     nullptr, nullptr, nullptr);
    if (!sws)
        return;
    // The file says which matrix turned its colours into video range.
    const int space = frame->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
    sws_setColorspaceDetails(sws, sws_getCoefficients(space), frame->color_range == AVCOL_RANGE_JPEG,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    out.keptRgb.assign(static_cast<std::size_t>(frame->width) * static_cast<std::size_t>(frame->height) * 3, 0);
    std::uint8_t* planes[1] = {out.keptRgb.data()};
    const int pitches[1] = {frame->width * 3};
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, pitches);
    sws_freeContext(sws);
}

} // namespace

DecodedVideo decodeVideo(const std::string& path, long long keepFrame)
{
    DecodedVideo out;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        out.error = "cannot open " + path;
        return out;
    }
    Decoder video;
    Decoder audio;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    double squares = 0.0;
    long long firstVideoPts = AV_NOPTS_VALUE;
    long long lastVideoEnd = 0;

    auto receive = [&](Decoder& decoder) {
        while (avcodec_receive_frame(decoder.context, frame) >= 0) {
            if (&decoder == &video) {
                if (out.videoFrames == keepFrame)
                    keepAsRgb(frame, out);
                const long long pts = frame->best_effort_timestamp;
                if (firstVideoPts == AV_NOPTS_VALUE)
                    firstVideoPts = pts;
                lastVideoEnd = std::max(lastVideoEnd, pts + frame->pkt_duration);
                ++out.videoFrames;
            } else {
                out.audioSamples += frame->nb_samples;
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < frame->nb_samples; ++i) {
                        const double v = sampleAt(frame, c, i);
                        squares += v * v;
                    }
            }
            av_frame_unref(frame);
        }
    };

    if (avformat_find_stream_info(format, nullptr) < 0 || !openDecoder(format, AVMEDIA_TYPE_VIDEO, video) ||
        !openDecoder(format, AVMEDIA_TYPE_AUDIO, audio)) {
        out.error = "no decodable video and audio in " + path;
    } else {
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVMediaType type = format->streams[i]->codecpar->codec_type;
            out.videoStreams += type == AVMEDIA_TYPE_VIDEO;
            out.audioStreams += type == AVMEDIA_TYPE_AUDIO;
        }
        out.videoCodec = avcodec_get_name(video.context->codec_id);
        out.audioCodec = avcodec_get_name(audio.context->codec_id);
        out.width = video.context->width;
        out.height = video.context->height;
        const char* pixels = av_get_pix_fmt_name(video.context->pix_fmt);
        out.pixelFormat = pixels ? pixels : "?";
        out.sampleRate = audio.context->sample_rate;

        while (av_read_frame(format, packet) >= 0) {
            Decoder* decoder = packet->stream_index == video.stream   ? &video
                               : packet->stream_index == audio.stream ? &audio
                                                                      : nullptr;
            if (decoder && avcodec_send_packet(decoder->context, packet) >= 0)
                receive(*decoder);
            av_packet_unref(packet);
        }
        for (Decoder* decoder : {&video, &audio}) {
            avcodec_send_packet(decoder->context, nullptr);
            receive(*decoder);
        }
        const AVRational base = format->streams[video.stream]->time_base;
        out.videoSeconds = static_cast<double>(lastVideoEnd - firstVideoPts) * av_q2d(base);
        // MP4 trims AAC's padding at the end through the track's length,
        // which the decoder does not see: a player stops there.
        const AVStream* sound = format->streams[audio.stream];
        out.audioSeconds = sound->duration > 0 ? static_cast<double>(sound->duration) * av_q2d(sound->time_base)
                                               : static_cast<double>(out.audioSamples) / out.sampleRate;
        if (out.audioSamples > 0)
            out.audioRms = std::sqrt(squares / (2.0 * static_cast<double>(out.audioSamples)));
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&format);
    return out;
}

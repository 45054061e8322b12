// Figures to compose the soundtrack with: renders the module at the show's
// volume without its closing fade and prints, scene by scene, the loudness
// (EBU R128, by libebur128), the stereo image, the level of the crowded
// 250-600 Hz band, how closely the closing scene repeats the second, and the
// channels that start or stop where each scene starts.
#include "soundtrack/scene_changes.hpp"

#include <ebur128.h>
#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int sampleRate = 44100;
// Six ticks of 2.5 / 84 s; libopenmpt plays a tick as whole frames (1312 at
// 44.1 kHz), so its rows are 7872 frames, not 7875.
constexpr int rowFrames = 7872;
constexpr int barRows = 12;
constexpr double showEnd = 168.81;
constexpr double showVolume = 240.0 / 256.0;
constexpr std::array<double, 9> sceneStarts{0.00, 34.24, 51.41, 68.52, 87.80, 107.03, 124.23, 143.46, showEnd};
constexpr std::array<int, 8> sceneOrders{0, 4, 6, 8, 11, 14, 16, 19};
const char* const channelNames[22] = {"kick",  "snare", "hat",   "open hat", "crash", "bass",  "pad1",  "pad2",
                                      "pad3",  "lead",  "lead echo", "arp",  "arp echo", "bell", "bell echo",
                                      "keys1", "keys2", "keys3", "riser", "tom",   "clap",  "counter"};

using Stereo = std::vector<float>;  // interleaved left, right

// Second-order section (RBJ cookbook), run in double.
struct Biquad {
    double b0, b1, b2, a1, a2, z1 = 0.0, z2 = 0.0;
    static Biquad make(bool highPass, double frequency, double q) {
        const double w = 2.0 * 3.14159265358979323846 * frequency / sampleRate, c = std::cos(w);
        const double alpha = std::sin(w) / (2.0 * q), a0 = 1.0 + alpha;
        const double b = highPass ? (1.0 + c) / 2.0 : (1.0 - c) / 2.0;
        return {b / a0, (highPass ? -2.0 * b : 2.0 * b) / a0, b / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
    }
    double step(double x) {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

struct SceneFigures {
    double integrated = 0.0, range = 0.0, peakDb = 0.0, correlation = 0.0, monoLoss = 0.0, bandDb = 0.0, bandShareDb = 0.0;
};

double loudness(const float* frames, std::size_t count, double* range) {
    std::unique_ptr<ebur128_state, void (*)(ebur128_state*)> state(
        ebur128_init(2, sampleRate, EBUR128_MODE_I | EBUR128_MODE_LRA),
        [](ebur128_state* s) { ebur128_destroy(&s); });
    ebur128_add_frames_float(state.get(), frames, count);
    double value = -HUGE_VAL;
    ebur128_loudness_global(state.get(), &value);
    if (range) ebur128_loudness_range(state.get(), range);
    return value;
}

SceneFigures measure(const Stereo& audio, long from, long to) {
    SceneFigures f;
    const std::size_t count = static_cast<std::size_t>(to - from);
    const float* frames = audio.data() + 2 * from;
    f.integrated = loudness(frames, count, &f.range);
    // Mono: both speakers play the average of the two sides.
    std::vector<float> mono(2 * count);
    double ll = 0.0, rr = 0.0, lr = 0.0, all = 0.0, band = 0.0, peak = 1e-9;
    std::array<Biquad, 4> filters{Biquad::make(true, 250, 0.7071), Biquad::make(true, 250, 0.7071),
                                  Biquad::make(false, 600, 0.7071), Biquad::make(false, 600, 0.7071)};
    for (std::size_t i = 0; i < count; ++i) {
        const double l = frames[2 * i], r = frames[2 * i + 1], m = (l + r) / 2.0;
        peak = std::max({peak, std::fabs(l), std::fabs(r)});
        ll += l * l;
        rr += r * r;
        lr += l * r;
        mono[2 * i] = mono[2 * i + 1] = static_cast<float>(m);
        double b = m;
        for (Biquad& q : filters) b = q.step(b);
        band += b * b;
        all += m * m;
    }
    f.peakDb = 20.0 * std::log10(peak);
    f.correlation = lr / std::sqrt(std::max(ll * rr, 1e-30));
    f.monoLoss = f.integrated - loudness(mono.data(), count, nullptr);
    f.bandDb = 10.0 * std::log10(std::max(band / count, 1e-30));
    f.bandShareDb = 10.0 * std::log10(std::max(band / std::max(all, 1e-30), 1e-30));
    return f;
}

// The best normalised correlation of any bar of the closing scene (on the
// row grid) with a stretch of the second scene starting on any row.
struct Match {
    double correlation = -1.0;
    double closingSeconds = 0.0, secondSeconds = 0.0;
};

Match bestRepeat(const Stereo& audio) {
    const long barFrames = long(barRows) * rowFrames;
    auto rowAfter = [](double seconds) { return long(std::ceil(seconds * sampleRate / rowFrames)); };
    std::vector<double> mono(audio.size() / 2);
    for (std::size_t i = 0; i < mono.size(); ++i) mono[i] = (double(audio[2 * i]) + audio[2 * i + 1]) / 2.0;
    auto energy = [&](long at) {
        double e = 0.0;
        for (long i = 0; i < barFrames; ++i) e += mono[static_cast<std::size_t>(at + i)] * mono[static_cast<std::size_t>(at + i)];
        return e;
    };
    Match best;
    const long secondFirst = rowAfter(sceneStarts[1]), secondLast = long(sceneStarts[2] * sampleRate / rowFrames) - barRows;
    const long closingLast = long(showEnd * sampleRate / rowFrames) - barRows;
    for (long a = rowAfter(sceneStarts[7]); a <= closingLast; a += barRows) {
        const long af = a * rowFrames;
        const double ea = energy(af);
        for (long b = secondFirst; b <= secondLast; ++b) {
            const long bf = b * rowFrames;
            double dot = 0.0;
            for (long i = 0; i < barFrames; ++i) dot += mono[static_cast<std::size_t>(af + i)] * mono[static_cast<std::size_t>(bf + i)];
            const double c = dot / std::sqrt(std::max(ea * energy(bf), 1e-30));
            if (c > best.correlation) best = {c, double(af) / sampleRate, double(bf) / sampleRate};
        }
    }
    return best;
}

std::string names(const std::vector<int>& channels) {
    std::string s;
    for (int ch : channels) s += (s.empty() ? "" : ", ") + std::string(ch < 22 ? channelNames[ch] : "?");
    return s.empty() ? "-" : s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: soundtrack_report <module.xm>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (file.empty()) {
        std::fprintf(stderr, "soundtrack_report: cannot read %s\n", argv[1]);
        return 1;
    }
    std::unique_ptr<openmpt_module, void (*)(openmpt_module*)> module(
        openmpt_module_create_from_memory2(file.data(), file.size(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr),
        openmpt_module_destroy);
    if (!module) {
        std::fprintf(stderr, "soundtrack_report: libopenmpt cannot load %s\n", argv[1]);
        return 1;
    }

    const long total = std::lround(showEnd * sampleRate);
    Stereo audio(2 * static_cast<std::size_t>(total));
    double peak = 0.0;
    for (long at = 0; at < total;) {
        const std::size_t want = static_cast<std::size_t>(std::min(4096L, total - at));
        const std::size_t got =
            openmpt_module_read_interleaved_float_stereo(module.get(), sampleRate, want, audio.data() + 2 * at);
        if (got == 0) break;
        for (std::size_t i = 0; i < 2 * got; ++i) {
            float& v = audio[static_cast<std::size_t>(2 * at) + i];
            v = static_cast<float>(v * showVolume);
            peak = std::max(peak, double(std::fabs(v)));
        }
        at += static_cast<long>(got);
    }

    std::printf("Rendered %.2f s at the show's volume (240/256), unfaded; peak %.2f dBFS\n\n", showEnd,
                20.0 * std::log10(peak));
    std::printf("scene  start   LUFS-I    LRA  L-R corr  mono loss  250-600 Hz  (of all)   peak\n");
    double quietest = 1e9, loudest = -1e9;
    for (int s = 0; s < 8; ++s) {
        const SceneFigures f = measure(audio, std::lround(sceneStarts[s] * sampleRate), std::lround(sceneStarts[s + 1] * sampleRate));
        quietest = std::min(quietest, f.integrated);
        loudest = std::max(loudest, f.integrated);
        std::printf("%5d %6.2f  %7.1f %6.1f %9.2f %8.2f dB %7.1f dB %6.1f dB %6.2f\n", s + 1, sceneStarts[s],
                    f.integrated, f.range, f.correlation, f.monoLoss, f.bandDb, f.bandShareDb, f.peakDb);
    }
    const SceneFigures whole = measure(audio, 0, total);
    std::printf("whole  0.00  %7.1f %6.1f %9.2f %8.2f dB %7.1f dB %6.1f dB\n", whole.integrated, whole.range,
                whole.correlation, whole.monoLoss, whole.bandDb, whole.bandShareDb);
    std::printf("span of the scenes' loudness: %.1f LU\n\n", loudest - quietest);

    const Match m = bestRepeat(audio);
    std::printf("closing scene against the second: best bar correlation %.3f (%.2f s against %.2f s)\n\n",
                m.correlation, m.closingSeconds, m.secondSeconds);

    const std::vector<PlayedPattern> orders = readPlayedOrders(module.get());
    std::printf("channels that start or stop on each scene's first row, against the bar before:\n");
    for (int s = 1; s < 8; ++s) {
        const int o = sceneOrders[static_cast<std::size_t>(s)];
        if (o >= int(orders.size())) break;
        const ChannelChanges c = channelChanges(orders[static_cast<std::size_t>(o - 1)], orders[static_cast<std::size_t>(o)], barRows);
        std::printf("scene %d (order %2d, row %2d): %zu; start: %s; stop: %s\n", s + 1, o, orders[static_cast<std::size_t>(o)].first, c.started.size() + c.stopped.size(),
                    names(c.started).c_str(), names(c.stopped).c_str());
    }
    return 0;
}

#include "soundtrack/instruments.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double middleC = 261.6255653005986;

using Signal = std::vector<double>;

// A fixed xorshift sequence: the same noise on every run.
struct Noise {
    std::uint32_t state;
    explicit Noise(std::uint32_t seed) : state(seed) {}
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state / 2147483647.5 - 1.0;
    }
};

// Scales the signal so that its largest magnitude is `peak` of full scale.
std::vector<std::int16_t> toPcm(const Signal& x, double peak = 0.95) {
    double largest = 1e-9;
    for (double v : x) largest = std::max(largest, std::fabs(v));
    std::vector<std::int16_t> out(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        out[i] = static_cast<std::int16_t>(std::lrint(x[i] / largest * peak * 32767.0));
    }
    return out;
}

// Sets relative note and finetune to shift XM note C-4 by `semitones` above
// the base rate of 8363 Hz.
void setTuning(XmSample& s, double semitones) {
    const long total = std::lrint(semitones * 128.0);
    long note = total / 128;
    long fine = total - note * 128;
    if (fine > 63) { fine -= 128; ++note; }
    if (fine < -64) { fine += 128; --note; }
    s.relativeNote = static_cast<std::int8_t>(note);
    s.finetune = static_cast<std::int8_t>(fine);
}

// A sample that sounds f0 when played at `rate` is tuned so that the XM note
// of MIDI note `midi` sounds that note.
void tune(XmSample& s, double rate, double f0, int midi) {
    const double target = middleC * std::pow(2.0, (midi - 60) / 12.0);
    setTuning(s, 12.0 * std::log2(rate * target / (f0 * 8363.0)) - (midi - 60));
}

// Recorded drums play unchanged at C-4.
void tuneDrum(XmSample& s, double rate) { setTuning(s, 12.0 * std::log2(rate / 8363.0)); }

// The first `count` harmonics at `phase` (in periods), weighted by weight(h):
// a waveform with nothing above its highest harmonic.
double harmonics(double phase, int count, const std::function<double(int)>& weight) {
    double v = 0.0;
    for (int h = 1; h <= count; ++h) v += weight(h) * std::sin(2.0 * pi * h * phase);
    return v;
}

// One-pole high-pass filter state.
struct HighPass {
    double a, x1 = 0.0, y1 = 0.0;
    explicit HighPass(double coefficient) : a(coefficient) {}
    double step(double x) { y1 = a * (y1 + x - x1); x1 = x; return y1; }
};

// Replaces the last `fade` frames of the loop [start, end) by a crossfade
// into the frames before `start`, so the wrap from end to start is smooth.
// The loops are noise, so the fade keeps the power constant (sine and
// cosine weights) rather than the amplitude, which would dip in the middle.
void crossfadeLoop(Signal& x, int start, int end, int fade) {
    for (int i = 0; i < fade; ++i) {
        const double w = (i + 0.5) / fade * pi / 2.0;
        double& tail = x[static_cast<std::size_t>(end - fade + i)];
        tail = tail * std::cos(w) + x[static_cast<std::size_t>(start - fade + i)] * std::sin(w);
    }
}

// Divides the signal by its smoothed level (a one-pole follower of the
// power, run forwards and then backwards, `frames` long), so that narrow-band
// noise keeps a steady level instead of swelling and sinking at random.
void flattenLevel(Signal& x, double frames) {
    const double a = 1.0 / frames;
    Signal power(x.size());
    double p = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) p = power[i] = p + a * (x[i] * x[i] - p);
    p = power.back();
    for (std::size_t i = x.size(); i-- > 0;) p = power[i] = p + a * (power[i] - p);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] /= std::sqrt(std::max(power[i], 1e-12));
}

void fadeEnd(Signal& x, int frames) {
    const int n = static_cast<int>(x.size());
    for (int i = 0; i < frames && i < n; ++i) x[static_cast<std::size_t>(n - 1 - i)] *= i / double(frames);
}

XmEnvelope envelope(std::vector<XmEnvelopePoint> points, int sustain = -1, int loopStart = -1, int loopEnd = -1) {
    XmEnvelope e;
    e.points = std::move(points);
    e.sustain = sustain;
    e.loopStart = loopStart;
    e.loopEnd = loopEnd;
    return e;
}

XmInstrument kick() {
    const double rate = 16000;
    const int n = int(0.32 * rate);
    Signal x(n);
    Noise noise(0x1234567u);
    double phase = 0.0;
    for (int i = 0; i < n; ++i) {
        const double t = i / rate;
        const double f = 46.0 + 150.0 * std::exp(-t / 0.03);
        phase += 2.0 * pi * f / rate;
        const double body = std::sin(phase) * std::exp(-t / 0.2) * std::min(1.0, t / 0.0015);
        const double click = noise.next() * std::exp(-t / 0.003) * 0.35;
        x[i] = std::tanh(1.8 * (body + click));
    }
    fadeEnd(x, 300);
    XmInstrument in;
    in.name = "kick";
    in.sample.data = toPcm(x);
    tuneDrum(in.sample, rate);
    return in;
}

XmInstrument snare() {
    const double rate = 22050;
    const int n = int(0.22 * rate);
    Signal x(n);
    Noise noise(0xBEEF01u);
    HighPass hp(0.75);
    for (int i = 0; i < n; ++i) {
        const double t = i / rate;
        const double tone = 0.6 * std::sin(2 * pi * 185 * t) * std::exp(-t / 0.06) +
                            0.3 * std::sin(2 * pi * 332 * t) * std::exp(-t / 0.04);
        const double hiss = hp.step(noise.next()) * std::exp(-t / 0.085);
        x[i] = std::tanh(1.4 * (tone * std::min(1.0, t / 0.001) + 0.9 * hiss));
    }
    fadeEnd(x, 400);
    XmInstrument in;
    in.name = "snare";
    in.sample.data = toPcm(x);
    in.sample.panning = 136;
    tuneDrum(in.sample, rate);
    return in;
}

// Metallic noise: a bank of inharmonic square waves plus white noise,
// high-passed twice.
Signal metal(double rate, int n, double decay, std::uint32_t seed) {
    static const double freqs[6] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
    Signal x(n);
    Noise noise(seed);
    HighPass hp1(0.6), hp2(0.6);
    for (int i = 0; i < n; ++i) {
        const double t = i / rate;
        double v = 0.0;
        for (double f : freqs) v += std::sin(2 * pi * f * 1.7 * t) > 0 ? 1.0 : -1.0;
        v = v / 6.0 * 0.6 + noise.next() * 0.7;
        x[i] = hp2.step(hp1.step(v)) * std::exp(-t / decay) * std::min(1.0, t / 0.0007);
    }
    return x;
}

XmInstrument closedHat() {
    const double rate = 44100;
    Signal x = metal(rate, int(0.07 * rate), 0.016, 0x5EED11u);
    fadeEnd(x, 200);
    XmInstrument in;
    in.name = "closed hat";
    in.sample.data = toPcm(x);
    in.sample.panning = 216;
    tuneDrum(in.sample, rate);
    return in;
}

XmInstrument openHat() {
    const double rate = 24000;
    Signal x = metal(rate, int(0.26 * rate), 0.08, 0x0FE4A7u);
    fadeEnd(x, 1200);
    XmInstrument in;
    in.name = "open hat";
    in.sample.data = toPcm(x);
    in.sample.panning = 44;
    tuneDrum(in.sample, rate);
    return in;
}

// A burst that settles into steady bright noise; the steady part loops and
// the volume envelope shapes the long decay.
XmInstrument crash() {
    const double rate = 22050;
    const int attack = int(0.25 * rate), loop = 4096, fade = 1024;
    const int n = attack + loop;
    Signal x(n);
    Noise noise(0xC4A5Bu);
    HighPass hp(0.55);
    double low = 0.0;
    for (int i = 0; i < n; ++i) {
        const double t = i / rate;
        const double hiss = hp.step(noise.next());
        low += 0.2 * (hiss - low);
        const double body = 0.7 * hiss + 0.5 * low;
        double burst = 1.0 + 1.6 * std::exp(-t / 0.03);
        if (i >= attack - fade) burst = 1.0 + 1.6 * std::exp(-(attack - fade) / rate / 0.03);
        x[i] = body * burst * std::min(1.0, t / 0.001);
    }
    crossfadeLoop(x, attack, n, fade);
    XmInstrument in;
    in.name = "crash";
    in.sample.data = toPcm(x);
    in.sample.loopStart = attack;
    in.sample.loopLength = loop;
    tuneDrum(in.sample, rate);
    in.volumeEnvelope = envelope({{0, 64}, {6, 46}, {24, 28}, {60, 12}, {100, 4}, {140, 0}});
    in.fadeout = 600;
    return in;
}

// A waveform of `cycle`-sample periods whose brightness and level move from
// the first period to the last; the last period is constant and loops.
Signal evolvingCycles(int cycle, int periods, int maxHarmonic, const std::function<double(int)>& weight,
                      const std::function<double(double)>& cutoff, const std::function<double(double)>& level) {
    const int n = cycle * periods;
    Signal x(n);
    for (int i = 0; i < n; ++i) {
        const double progress = std::min(1.0, double(i) / (cycle * (periods - 1)));
        const double c = cutoff(progress);
        double v = 0.0;
        for (int h = 1; h <= maxHarmonic; ++h) {
            const double r = h / c;
            v += weight(h) / std::sqrt(1.0 + r * r * r * r) * std::sin(2 * pi * h * i / double(cycle));
        }
        x[i] = v * level(progress);
    }
    return x;
}

XmInstrument bass() {
    const int cycle = 256, periods = 16;
    Signal x = evolvingCycles(
        cycle, periods, 60, [](int h) { return (h == 1 ? 1.6 : 1.0) / h; },
        [](double p) { return 4.0 + 20.0 * std::exp(-4.0 * p); },
        [](double p) { return 1.0 - 0.25 * p; });
    XmInstrument in;
    in.name = "bass";
    in.sample.data = toPcm(x, 0.9);
    in.sample.loopStart = cycle * (periods - 1);
    in.sample.loopLength = cycle;
    tune(in.sample, cycle * middleC, middleC, 60);
    in.volumeEnvelope = envelope({{0, 64}, {4, 58}, {14, 48}}, 2);
    in.fadeout = 3000;
    return in;
}

// Three detuned saws with whole numbers of periods in one loop, so the loop
// is seamless and the beating between them is part of it.
XmInstrument pad() {
    const int n = 8192;
    const int periods[3] = {128, 127, 129};
    const double gains[3] = {1.0, 0.8, 0.8};
    Signal x(n);
    for (int i = 0; i < n; ++i) {
        double v = 0.0;
        for (int o = 0; o < 3; ++o) {
            const double phase = double(periods[o]) * i / n + 0.21 * o;
            v += gains[o] * harmonics(phase, 16, [](int h) { return 1.0 / h / (1.0 + h * h / 60.0); });
        }
        v += 0.25 * std::sin(2 * pi * 64.0 * i / n);  // a little of the octave below, for warmth
        x[i] = v;
    }
    XmInstrument in;
    in.name = "pad";
    in.sample.data = toPcm(x, 0.9);
    in.sample.loopStart = 0;
    in.sample.loopLength = n;
    tune(in.sample, 64 * middleC, middleC, 60);
    in.volumeEnvelope = envelope({{0, 0}, {12, 40}, {30, 60}, {40, 64}}, 3);
    in.panningEnvelope = envelope({{0, 32}, {40, 22}, {120, 42}, {200, 22}}, -1, 1, 3);
    in.fadeout = 700;
    return in;
}

// A pulse whose width sways slowly: 768 short periods make one seamless
// loop, so the sway runs at the played pitch / 768 (under 2 Hz up to D-6).
XmInstrument lead() {
    const int cycle = 32, periods = 768, n = cycle * periods;
    Signal x(n);
    for (int i = 0; i < n; ++i) {
        const double width = 0.5 + 0.22 * std::sin(2 * pi * i / n);
        const double phase = double(i) / cycle;
        double v = 0.0;
        for (int h = 1; h <= 15; ++h) {
            const double soft = 1.0 / (1.0 + h * h / 140.0);
            v += soft * (2.0 / (h * pi)) * std::sin(pi * h * width) * std::cos(2 * pi * h * (phase - width / 2));
            v += 0.35 * soft / h * std::sin(2 * pi * h * phase);  // a little saw in it
        }
        x[i] = v;
    }
    XmInstrument in;
    in.name = "lead";
    in.sample.data = toPcm(x, 0.9);
    in.sample.loopStart = 0;
    in.sample.loopLength = n;
    tune(in.sample, cycle * middleC, middleC, 60);
    in.volumeEnvelope = envelope({{0, 0}, {1, 64}, {8, 52}, {30, 46}}, 3);
    in.vibratoType = 0;
    in.vibratoSweep = 40;
    in.vibratoDepth = 5;
    in.vibratoRate = 12;
    in.fadeout = 1500;
    return in;
}

XmInstrument pluck() {
    const int cycle = 64, periods = 64;
    Signal x = evolvingCycles(
        cycle, periods, 16, [](int h) { return 1.0 / h; },
        [](double p) { return 2.0 + 14.0 * std::exp(-4.0 * p); },
        [](double p) { return std::exp(-2.2 * p); });
    XmInstrument in;
    in.name = "pluck";
    in.sample.data = toPcm(x, 0.9);
    in.sample.loopStart = cycle * (periods - 1);
    in.sample.loopLength = cycle;
    in.sample.panning = 150;
    tune(in.sample, cycle * middleC, middleC, 60);
    in.volumeEnvelope = envelope({{0, 64}, {10, 50}, {30, 24}, {60, 0}});
    in.fadeout = 2000;
    return in;
}

// Frequency modulation with a 2:7 carrier to modulator ratio: every partial
// is a multiple of half the carrier, so two carrier periods loop exactly.
XmInstrument bell() {
    const int cycle = 64, loop = 2 * cycle, attack = 36 * loop;
    const int n = attack + loop;
    Signal x(n);
    for (int i = 0; i < n; ++i) {
        const int t = std::min(i, attack);
        const double index = 0.5 + 4.0 * std::exp(-t / 1100.0);
        const double phase = 2 * pi * i / cycle;
        x[i] = std::sin(phase + index * std::sin(3.5 * phase)) * std::min(1.0, i / 24.0) *
               (0.55 + 0.45 * std::exp(-t / 2000.0));
    }
    XmInstrument in;
    in.name = "bell";
    in.sample.data = toPcm(x, 0.9);
    in.sample.loopStart = attack;
    in.sample.loopLength = loop;
    in.sample.panning = 200;  // where no pan is set: the stuttered bells
    tune(in.sample, cycle * middleC, middleC, 60);
    in.volumeEnvelope = envelope({{0, 64}, {16, 40}, {50, 20}, {110, 6}, {170, 0}});
    in.fadeout = 800;
    return in;
}

// Resonant band of noise; pitch slides in the patterns sweep it upward.
XmInstrument riser() {
    const double rate = 22050;
    const int loop = 4096, fade = 1024, n = loop + fade, settle = 1024;
    Signal x(n);
    Noise noise(0x7A11CEu);
    const double f = 2 * pi * 0.05, r = 0.985;
    double y1 = 0.0, y2 = 0.0;
    // The resonator runs a while before recording, so the frames the loop's
    // end fades into already ring at full level.
    for (int i = -settle; i < n; ++i) {
        const double y = noise.next() + 2.0 * r * std::cos(f) * y1 - r * r * y2;
        y2 = y1;
        y1 = y;
        const double v = y + 4.0 * noise.next() * 0.15;
        if (i >= 0) x[static_cast<std::size_t>(i)] = v;
    }
    flattenLevel(x, 100.0);
    crossfadeLoop(x, fade, n, fade);
    XmInstrument in;
    in.name = "riser";
    in.sample.data = toPcm(x, 0.9);
    in.sample.loopStart = fade;
    in.sample.loopLength = loop;
    tuneDrum(in.sample, rate);
    in.volumeEnvelope = envelope({{0, 64}, {4, 64}}, 1);
    in.fadeout = 1200;
    return in;
}

// Electric-piano tone: 1:1 frequency modulation with a fading index and a
// short tine at 14 times the pitch; the last period loops.
XmInstrument keys() {
    const int cycle = 128, periods = 40, n = cycle * periods;
    Signal x(n);
    const int settle = cycle * (periods - 1);
    for (int i = 0; i < n; ++i) {
        const int t = std::min(i, settle);
        const double index = 0.35 + 1.9 * std::exp(-t / 900.0);
        const double tine = 0.25 * std::exp(-t / 180.0);
        const double phase = 2 * pi * i / cycle;
        x[i] = std::sin(phase + index * std::sin(phase)) + tine * std::sin(14.0 * phase);
    }
    XmInstrument in;
    in.name = "keys";
    in.sample.data = toPcm(x, 0.9);
    in.sample.loopStart = settle;
    in.sample.loopLength = cycle;
    tune(in.sample, cycle * middleC, middleC, 60);
    in.volumeEnvelope = envelope({{0, 64}, {10, 52}, {40, 38}, {100, 24}, {200, 14}});
    in.panningEnvelope = envelope({{0, 32}, {14, 46}, {42, 18}, {56, 32}}, -1, 0, 3);
    in.fadeout = 900;
    return in;
}

// A tuned drum with a falling pitch: toms in fills, zaps when played high.
XmInstrument tom() {
    const double rate = 16000;
    const double f0 = middleC / 2.0;  // C-3
    const int n = int(0.25 * rate);
    Signal x(n);
    Noise noise(0x70A70Au);
    double phase = 0.0;
    for (int i = 0; i < n; ++i) {
        const double t = i / rate;
        phase += 2 * pi * f0 * (1.0 + 0.9 * std::exp(-t / 0.035)) / rate;
        x[i] = (std::sin(phase) + 0.15 * noise.next() * std::exp(-t / 0.005)) * std::exp(-t / 0.11) *
               std::min(1.0, t / 0.001);
    }
    fadeEnd(x, 400);
    XmInstrument in;
    in.name = "tom";
    in.sample.data = toPcm(x);
    tune(in.sample, rate, f0, 48);
    return in;
}

}  // namespace

std::vector<XmInstrument> makeInstruments() {
    return {kick(), snare(), closedHat(), openHat(), crash(), bass(), pad(),
            lead(), pluck(), bell(), riser(), keys(), tom()};
}

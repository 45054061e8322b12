// The score. A row is a triplet eighth at speed 6 and 84 BPM (0.17857 s); a
// bar is 12 rows, four dotted beats of 3 rows (12/8 at 112 beats a minute).
// Every pattern is a whole number of bars and ends with a pattern break, so
// each order starts where a scene of the show starts.
#include "soundtrack/arrangement.hpp"

#include "soundtrack/instruments.hpp"

#include <algorithm>
#include <cstring>

namespace {

enum Channel {
    ChKick,
    ChSnare,
    ChHat,
    ChOpenHat,
    ChCrash,
    ChBass,
    ChPad1,
    ChPad2,
    ChPad3,
    ChLead,
    ChLeadEcho,
    ChArp,
    ChArpEcho,
    ChBell,
    ChBellEcho,
    ChKeys1,
    ChKeys2,
    ChKeys3,
    ChRiser,
    ChTom,
    ChPerc,
    ChCounter,
};
static_assert(ChCounter + 1 == soundtrackChannels);

constexpr int keyOff = -1;
constexpr int bar = 12;

// The sections' levels, which give the show its arc: the reflective scenes
// (trees, ripple grid) quiet, the dented sphere's the loudest.
// All levels, for headroom at the show's volume.
constexpr double master = 0.98;
constexpr double themeGain = 0.95, softGain = 0.5, flowGain = 0.9, warmGain = 0.55, techGain = 0.85,
                 heavyGain = 1.06, repriseGain = 0.97;

// XM effect numbers.
constexpr int fxPortaUp = 0x1, fxPortaDown = 0x2, fxPortaTo = 0x3, fxPan = 0x8, fxBreak = 0xD, fxExtended = 0xE;
constexpr int patternDelay(int rows) { return 0xE0 | rows; }
constexpr int retrig(int ticks) { return 0x90 | ticks; }
constexpr int noteCut(int tick) { return 0xC0 | tick; }

struct Chord {
    int bass;    // MIDI note of the root in the bass register
    int pad[3];  // close voicing around middle C
    int arp[4];  // tones the arpeggios run through
};

// D minor and its neighbours; MIDI 60 is middle C.
const Chord Dm{38, {62, 65, 69}, {62, 65, 69, 74}};
const Chord Dm7{38, {60, 65, 69}, {62, 65, 69, 72}};
const Chord Bb{34, {62, 65, 70}, {58, 62, 65, 70}};
const Chord Bbmaj7{34, {62, 65, 69}, {58, 62, 65, 69}};
const Chord F{41, {60, 65, 69}, {60, 65, 69, 72}};
const Chord Fmaj7{41, {64, 69, 72}, {60, 64, 65, 69}};
const Chord C{36, {60, 64, 67}, {60, 64, 67, 72}};
const Chord Gm{43, {62, 67, 70}, {62, 67, 70, 74}};
const Chord Gm7{43, {62, 65, 70}, {62, 65, 67, 70}};
const Chord A{33, {61, 64, 69}, {61, 64, 69, 73}};
const Chord Am7{45, {60, 64, 67}, {57, 60, 64, 67}};

struct Note {
    int row;  // within the bar list given to `melody`, counted from the first bar
    int midi;
    int length;
};

// One stretch of a pattern being written: `length` rows from row `first`,
// ended by a break to row `next` of the following order's pattern. Several
// stretches can share a pattern (see `overlay`). Volumes are scaled by
// `gain`, which sets the level of a whole section.
struct Part {
    XmPattern pattern{64, soundtrackChannels};
    int length;
    int first;
    double gain = 1.0;

    explicit Part(int rows, int firstRow = 0, double sectionGain = 1.0)
        : length(rows), first(firstRow), gain(sectionGain) {}

    XmCell* cell(int row, int ch) { return row >= 0 && row < length ? &pattern.at(first + row, ch) : nullptr; }

    // midi: a MIDI note, keyOff, or 0 for none; volume -1 leaves the column empty.
    void put(int row, int ch, int midi, int instrument, int volume = -1, int effect = 0, int param = 0) {
        XmCell* c = cell(row, ch);
        if (!c) return;
        if (midi == keyOff) c->note = 97;
        else if (midi > 0) c->note = static_cast<std::uint8_t>(std::clamp(midi - 11, 1, 96));
        if (midi > 0) c->instrument = static_cast<std::uint8_t>(instrument);
        if (volume >= 0) c->volume = static_cast<std::uint8_t>(0x10 + std::clamp(int(volume * gain * master + 0.5), 0, 64));
        if (effect || param) {
            c->effect = static_cast<std::uint8_t>(effect);
            c->param = static_cast<std::uint8_t>(param);
        }
    }
    void volume(int row, int ch, int v) { put(row, ch, 0, 0, v); }
    void effect(int row, int ch, int effect, int param) { put(row, ch, 0, 0, -1, effect, param); }
    void off(int row, int ch) { put(row, ch, keyOff, 0); }
    void fineVolumeDown(int row, int ch, int amount) {
        if (XmCell* c = cell(row, ch)) c->volume = static_cast<std::uint8_t>(0x80 + std::clamp(amount, 1, 15));
    }

    // The break goes on the last played row, in a channel whose effect is
    // free; its parameter is the row to enter next, in decimal digits.
    XmPattern finish(int next = 0) {
        for (int ch = soundtrackChannels - 1; ch >= 0; --ch) {
            XmCell& c = pattern.at(first + length - 1, ch);
            if (!c.effect && !c.param) {
                c.effect = fxBreak;
                c.param = static_cast<std::uint8_t>(next / 10 * 16 + next % 10);
                return pattern;
            }
        }
        return pattern;  // unreachable with the parts below
    }
};

// Two stretches written into one pattern: the cells of `extra` that hold
// anything replace those of `base`.
XmPattern overlay(XmPattern base, const XmPattern& extra) {
    for (std::size_t i = 0; i < base.cells.size(); ++i) {
        const XmCell& c = extra.cells[i];
        if (c.note || c.instrument || c.volume || c.effect || c.param) base.cells[i] = c;
    }
    return base;
}

int level(char c) {
    switch (c) {
    case 'X': return 64;
    case 'x': return 48;
    case 'o': return 34;
    case '-': return 22;
    case ',': return 14;
    default: return -1;
    }
}

// A 12-character rhythm for one bar: X x o - , are loud to soft, '.' is rest.
void hits(Part& p, int barIndex, int ch, int instrument, const char* rhythm, int midi = 60, double scale = 1.0) {
    for (int i = 0; i < bar && rhythm[i]; ++i) {
        const int v = level(rhythm[i]);
        if (v >= 0) p.put(barIndex * bar + i, ch, midi, instrument, static_cast<int>(v * scale + 0.5));
    }
}

struct Kit {
    const char* kick;
    const char* snare;
    const char* hat;
    const char* open = nullptr;
    double scale = 1.0;
};

void drums(Part& p, int fromBar, int toBar, const Kit& k) {
    for (int b = fromBar; b < toBar; ++b) {
        if (k.kick) hits(p, b, ChKick, Kick, k.kick, 60, k.scale * 0.75);  // the kick's boom is mostly energy
        if (k.snare) hits(p, b, ChSnare, Snare, k.snare, 60, k.scale);
        if (k.hat) hits(p, b, ChHat, ClosedHat, k.hat, 60, k.scale);
        if (k.open) hits(p, b, ChOpenHat, OpenHat, k.open, 60, k.scale);
    }
}

enum class BassStyle { Long, Pulse, Shuffle, Drive, Heavy };

void bassBar(Part& p, int barIndex, const Chord& c, BassStyle style, int volume) {
    const int r = c.bass, at = barIndex * bar;
    const int v = volume * 2 / 3;  // the bass carries most of the energy; keep it under the kick
    switch (style) {
    case BassStyle::Long:
        p.put(at, ChBass, r, Bass, v);
        break;
    case BassStyle::Pulse:
        p.put(at, ChBass, r, Bass, v);
        p.put(at + 6, ChBass, r + 7, Bass, v * 3 / 4);
        p.put(at + 9, ChBass, r + 12, Bass, v * 2 / 3);
        break;
    case BassStyle::Shuffle: {
        const int offsets[7] = {0, 2, 3, 5, 6, 9, 11};
        const int notes[7] = {r, r, r + 12, r, r, r + 12, r + 10};
        const int vols[7] = {v, v * 2 / 3, v * 3 / 4, v * 2 / 3, v, v * 3 / 4, v * 2 / 3};
        for (int i = 0; i < 7; ++i) p.put(at + offsets[i], ChBass, notes[i], Bass, vols[i]);
        break;
    }
    case BassStyle::Drive:
        for (int i = 0; i < bar; ++i) {
            const int n = i % 3 == 2 ? r + 12 : r;
            p.put(at + i, ChBass, n, Bass, i % 3 == 0 ? v : v * 2 / 3);
        }
        break;
    case BassStyle::Heavy: {
        const int offsets[8] = {0, 2, 3, 5, 6, 8, 9, 11};
        const int notes[8] = {r, r, r + 12, r, r, r + 7, r + 12, r + 10};
        for (int i = 0; i < 8; ++i) p.put(at + offsets[i], ChBass, notes[i], Bass, i % 2 ? v * 3 / 4 : v);
        break;
    }
    }
}

// Pad chord: a new attack when `attack`, otherwise the voices glide from the
// previous chord without a new attack. The voices are spread wide.
void padChord(Part& p, int row, const Chord& c, int v, bool attack) {
    const int pans[3] = {0x08, 0xb0, 0xf8};  // right of centre, across from the lead
    for (int i = 0; i < 3; ++i) {
        if (attack) p.put(row, ChPad1 + i, c.pad[i], Pad, v * 4 / 5, fxPan, pans[i]);
        else p.put(row, ChPad1 + i, c.pad[i], 0, v * 4 / 5, fxPortaTo, 0x60);
    }
}

// Electric-piano chord, one note per keys channel, an octave below the pad
// so the two do not crowd the same register.
void keysChord(Part& p, int row, const Chord& c, int v, int cutTick = 0) {
    const int pans[3] = {0xd0, 0x80, 0x30};
    for (int i = 0; i < 3; ++i) {
        p.put(row, ChKeys1 + i, c.pad[i] - 12, Keys, v, cutTick ? fxExtended : fxPan,
              cutTick ? noteCut(cutTick) : pans[i]);
    }
}

enum class ArpStyle { Roll, Up };

// Pluck arpeggio on every row, echoed a beat later on the other side.
void arpBar(Part& p, int barIndex, const Chord& c, ArpStyle style, int v, int octave = 0) {
    static const int roll[12] = {0, 1, 2, 3, 2, 1, 0, 1, 2, 3, 2, 1};
    static const int up[12] = {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5};
    const int at = barIndex * bar;
    for (int i = 0; i < bar; ++i) {
        const int k = style == ArpStyle::Roll ? roll[i] : up[i];
        const int n = c.arp[k % 4] + 12 * (k / 4) + octave;
        const int accent = i % 3 == 0 ? v : v * 3 / 4;
        p.put(at + i, ChArp, n, Pluck, accent, fxPan, 0xe8);
        p.put(at + i + 3, ChArpEcho, n, Pluck, accent * 2 / 5, fxPan, 0x18);
    }
}

// A melody line on `ch`, its echo a beat later and softer on `echoCh`.
// Notes before the part's first row or after its end are left out, so one
// line can run across several parts.
void melody(Part& p, int firstRow, int ch, int echoCh, int instrument, const std::vector<Note>& notes, int v,
            int pan, int echoPan, int echoDelay = 3) {
    for (const Note& n : notes) {
        const int at = firstRow + n.row;
        p.put(at, ch, n.midi, instrument, v, fxPan, pan);
        p.put(at + echoDelay, echoCh, n.midi, instrument, v / 2, fxPan, echoPan);
    }
}

// The main theme as the lead first plays it in the rhythm-disc scene.
const std::vector<Note> theme{{0, 77, 6},  {6, 74, 3},  {9, 76, 3},  {12, 77, 3}, {15, 81, 6},
                              {21, 79, 3}, {24, 76, 6}, {30, 72, 3}, {33, 74, 3}};

// Moves a note by `steps` degrees of the scale shared by D minor and F major
// (the white keys with B flat); notes outside it move by the same interval
// as the degree below them.
int scaleStep(int midi, int steps) {
    static const int degrees[7] = {0, 2, 4, 5, 7, 9, 10};
    const int octave = midi / 12, pc = midi % 12;
    int degree = 0;
    while (degree < 6 && degrees[degree + 1] <= pc) ++degree;
    const int shifted = degree + steps;
    const int octaves = shifted >= 0 ? shifted / 7 : -((6 - shifted) / 7);
    const int d = shifted - 7 * octaves;
    return 12 * (octave + octaves) + degrees[d] + (pc - degrees[degree]);
}

// The theme moved by scale degrees and octaves, its rows stretched by `stretch`.
std::vector<Note> themeVariant(int steps, int octaves, int stretch) {
    std::vector<Note> notes;
    for (const Note& n : theme)
        notes.push_back({n.row * stretch, scaleStep(n.midi, steps) + 12 * octaves, n.length * stretch});
    return notes;
}

// Rising noise sweep over `rows`, louder as it climbs.
void riser(Part& p, int row, int rows, int from, int to, int speed) {
    p.put(row, ChRiser, 48, Riser, from, fxPortaUp, speed);
    for (int i = 1; i < rows; ++i) p.put(row + i, ChRiser, 0, 0, from + (to - from) * i / (rows - 1), fxPortaUp, speed);
}

// Snare roll on every row with rising volume.
void snareRoll(Part& p, int row, int rows, int from, int to) {
    for (int i = 0; i < rows; ++i) p.put(row + i, ChSnare, 60, Snare, from + (to - from) * i / std::max(1, rows - 1));
}

void impact(Part& p, int row, int lowNote) {
    p.put(row, ChCrash, 60, Crash, 46);
    p.put(row, ChKick, 60, Kick, 54);
    p.put(row, ChTom, lowNote, Tom, 42);
    p.off(row, ChRiser);
}

// The accent that marks every eighth row in the groove of the rhythm-disc
// scene: open hat, a high clap, a flurry of closed hats, a short keys stab
// and a falling zap, three accents across every two bars.
void eightRowFigure(Part& p, const Chord* chords) {
    for (int row = 0; row < p.length; row += 8) {
        const Chord& c = chords[row / bar];
        const bool downbeat = row % bar == 0;
        if (row > 0) {  // row 0 has the crash; on other downbeats the kick helps
            p.put(row, ChOpenHat, 60, OpenHat, downbeat ? 44 : 64);
            p.put(row, ChPerc, 72, Snare, downbeat ? 26 : 50, fxPan, row % 16 ? 0x40 : 0xc0);  // a high clap
            if (!downbeat) p.put(row, ChHat, 60, ClosedHat, 56, fxExtended, retrig(2));  // a hat flurry
        }
        p.put(row, ChCounter, c.arp[3] + 12, Keys, downbeat ? 40 : 52, fxExtended, noteCut(4));
        p.put(row, ChTom, 86, Tom, downbeat ? 30 : 40, fxPortaDown, 0x60);
    }
}

// --- Scene 1: opening ---------------------------------------------------

XmPattern intro1() {
    Part p(48);
    // From near silence: the pad swells over the first two bars.
    padChord(p, 0, Dm, 2, true);
    // Alone, the pad sits narrower than in the full mix.
    const int pans[3] = {0x18, 0xa0, 0xe8};
    for (int i = 0; i < 3; ++i) p.effect(1, ChPad1 + i, fxPan, pans[i]);
    for (int r = 1; r < 24; ++r) {
        for (int i = 0; i < 3; ++i) p.volume(r, ChPad1 + i, 2 + r * 3 / 2);
    }
    padChord(p, 24, Bb, 38, false);
    padChord(p, 36, C, 38, false);
    // The tunnel appears: the arpeggio and a bell join.
    arpBar(p, 2, Bb, ArpStyle::Roll, 35);
    arpBar(p, 3, C, ArpStyle::Roll, 41);
    melody(p, 24, ChBell, ChBellEcho, Bell, {{0, 86, 12}, {12, 84, 12}}, 30, 0x50, 0xc0, 6);
    return p.finish();
}

XmPattern intro2() {
    Part p(48);
    const Chord chords[4] = {Dm, Bb, F, C};
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], 38, false);
        arpBar(p, b, chords[b], ArpStyle::Roll, 44);
    }
    drums(p, 0, 4, {nullptr, nullptr, "o.,-.,o.,-.,", nullptr, 0.8});
    melody(p, 0, ChBell, ChBellEcho, Bell, {{0, 81, 12}, {12, 77, 12}, {24, 84, 12}, {36, 79, 12}}, 32, 0x50,
           0xc0, 6);
    riser(p, 36, 12, 6, 30, 0x06);
    p.put(42, ChTom, 55, Tom, 30);
    p.put(45, ChTom, 52, Tom, 36);
    return p.finish();
}

XmPattern intro3() {
    Part p(48);
    const Chord chords[4] = {Dm, Bb, F, C};
    // The logo slides in: bass and drums arrive.
    p.put(0, ChCrash, 60, Crash, 40);
    p.off(0, ChRiser);
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], 34, false);
        arpBar(p, b, chords[b], ArpStyle::Roll, 44);
        bassBar(p, b, chords[b], b < 2 ? BassStyle::Pulse : BassStyle::Shuffle, 52);
    }
    drums(p, 0, 2, {"X.....x.....", nullptr, "x.ox.ox.ox.o", nullptr, 0.8});
    // The middle of the logo: the backbeat and open hats come in.
    p.put(24, ChCrash, 60, Crash, 46);
    drums(p, 2, 4, {"X.....X..x..", "...x.....x..", "x.ox.ox.ox.o", "......o.....", 0.9});
    return p.finish();
}

XmPattern intro4() {
    Part p(48);
    // The title line: everything plays, and the bell gives the theme's head.
    p.put(0, ChCrash, 60, Crash, 56);
    const Chord chords[4] = {Dm, Bb, Gm, A};
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], b < 2 ? 34 : 40, false);
        arpBar(p, b, chords[b], ArpStyle::Roll, b < 2 ? 44 : 34);
    }
    bassBar(p, 0, Dm, BassStyle::Shuffle, 56);
    bassBar(p, 1, Bb, BassStyle::Shuffle, 56);
    drums(p, 0, 2, {"X....xX..x..", "...X.....X..", "x.ox.ox.ox.o", "......o.....", 1.0});
    std::vector<Note> head(theme.begin(), theme.begin() + 6);
    melody(p, 0, ChBell, ChBellEcho, Bell, head, 40, 0x50, 0xc0);
    // Breakdown as the picture fades: drums and bass drop out, a sweep and a
    // roll lead into the groove.
    p.off(24, ChBass);
    p.put(24, ChOpenHat, 60, OpenHat, 40);
    riser(p, 24, 24, 4, 40, 0x03);
    for (int r = 24; r < 36; r += 3) p.put(r, ChSnare, 60, Snare, 14 + (r - 24) * 2);
    snareRoll(p, 36, 12, 24, 58);
    p.put(42, ChTom, 57, Tom, 44);
    p.put(44, ChTom, 53, Tom, 48);
    p.put(46, ChTom, 50, Tom, 52);
    return p.finish();
}

// --- Scene 2: the main groove and theme ------------------------------------

const Kit grooveKit{"X....xX.....", "...X.....X.o", "x.ox.ox.ox.o", nullptr, 1.0};

XmPattern themeA() {
    Part p(48, 0, themeGain);
    const Chord chords[4] = {Dm, Bb, F, C};
    p.put(0, ChCrash, 60, Crash, 46);
    p.off(0, ChRiser);
    p.off(0, ChLead);
    p.off(0, ChLeadEcho);
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], 30, b == 0);
        arpBar(p, b, chords[b], ArpStyle::Roll, 44, 12);
        bassBar(p, b, chords[b], BassStyle::Shuffle, 60);
    }
    drums(p, 0, 4, grooveKit);
    eightRowFigure(p, chords);
    // The poem appears: the theme enters on the second bar.
    melody(p, 12, ChLead, ChLeadEcho, Lead, theme, 44, 0x28, 0xf0);
    return p.finish();
}

// The song's last order, after the show: one held empty row that lets the
// ending ring before the song loops; it shares the theme's second pattern.
XmPattern afterEnd() {
    Part p(16, 48);
    p.effect(0, ChCounter, fxExtended, patternDelay(15));
    for (int ch : {ChPad1, ChPad2, ChPad3, ChKeys1, ChKeys2, ChKeys3, ChLead, ChLeadEcho}) p.off(0, ch);
    return p.finish();
}

XmPattern themeB() {
    Part p(48, 0, themeGain);
    const Chord chords[4] = {Dm, Bb, Gm, A};
    p.put(0, ChCrash, 60, Crash, 50);
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], 42, false);
        arpBar(p, b, chords[b], ArpStyle::Up, 52, 12);
        if (b < 3) bassBar(p, b, chords[b], BassStyle::Drive, 56);
    }
    drums(p, 0, 3, {grooveKit.kick, grooveKit.snare, "xxxxxxxxxxxx", "..o..x..o..x", 1.0});
    eightRowFigure(p, chords);
    // A bell answers the theme from the other side.
    melody(p, 0, ChBell, ChBellEcho, Bell, {{6, 86, 6}, {18, 89, 6}, {30, 91, 6}}, 36, 0xb0, 0x40);
    melody(p, 0, ChLead, ChLeadEcho, Lead,
           {{0, 74, 9}, {9, 69, 3}, {12, 74, 3}, {15, 77, 3}, {18, 81, 6}, {24, 79, 3}, {27, 82, 3}, {30, 81, 3},
            {33, 79, 3}, {36, 76, 6}, {42, 73, 6}},
           44, 0x28, 0xf0);
    // Last bar: a tom fill, a sweep and the bass climbing an octave.
    drums(p, 3, 4, {"X...........", "...X........", "xxxxxxxxxxxx", "o..o..o.....", 1.0});
    const int climb[6] = {45, 47, 49, 50, 52, 55};
    for (int i = 0; i < 6; ++i) p.put(36 + 2 * i, ChBass, climb[i], Bass, 30);
    const int toms[6][2] = {{38, 62}, {39, 59}, {41, 57}, {42, 55}, {44, 52}, {45, 50}};
    for (const auto& t : toms) p.put(t[0], ChTom, t[1], Tom, 50, fxPan, 0x40 + (t[0] - 38) * 0x18);
    snareRoll(p, 42, 6, 30, 56);
    riser(p, 36, 12, 8, 36, 0x06);
    return overlay(p.finish(), afterEnd());
}

// --- Scene 3: soft and reflective --------------------------------------------

// The theme at half speed on the bell, from the second half of the first
// pattern across the second; its C leans on C sharp over the closing A.
std::vector<Note> slowTheme() {
    std::vector<Note> notes = themeVariant(0, 0, 2);
    notes[7].midi = 73;
    return notes;
}

XmPattern softA() {
    Part p(48, 0, softGain);
    const Chord chords[4] = {Bbmaj7, Am7, Gm7, Dm};
    p.put(0, ChCrash, 60, Crash, 30);
    p.off(0, ChRiser);
    p.off(0, ChLead);
    p.off(0, ChLeadEcho);
    p.off(0, ChArp);
    p.off(0, ChBass);
    p.off(0, ChCounter);
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], 26, false);
        keysChord(p, b * bar, chords[b], 40);
        keysChord(p, b * bar + 9, chords[b], 24);
    }
    bassBar(p, 2, Gm7, BassStyle::Long, 38);
    bassBar(p, 3, Dm, BassStyle::Long, 38);
    // The poem holds: the theme, slowly, and a soft pulse.
    melody(p, 24, ChBell, ChBellEcho, Bell, slowTheme(), 50, 0x50, 0xc0);
    drums(p, 2, 4, {"o...........", nullptr, "-..,..-..,..", nullptr, 1.0});
    return p.finish();
}

XmPattern softB() {
    Part p(48, 0, softGain);
    const Chord chords[4] = {Bbmaj7, Am7, Gm7, A};
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], 26 + b * 4, false);
        keysChord(p, b * bar, chords[b], 40);
        if (b < 2) keysChord(p, b * bar + 9, chords[b], 24);
        bassBar(p, b, chords[b], BassStyle::Long, 38);
    }
    melody(p, -24, ChBell, ChBellEcho, Bell, slowTheme(), 50, 0x50, 0xc0);
    drums(p, 0, 2, {"o...........", nullptr, "-..,..-..,..", nullptr, 1.0});
    // A rising sweep and a growing roll into the impact of the next scene.
    riser(p, 24, 24, 6, 56, 0x03);
    for (int r = 24; r < 36; r += 3) p.put(r, ChSnare, 60, Snare, 16 + (r - 24) * 2);
    snareRoll(p, 36, 12, 30, 64);
    drums(p, 2, 4, {"X.....X.....", nullptr, "o.-o.-o.-o.-", nullptr, 1.0});
    return p.finish();
}

// --- Scene 4: flowing and driving ---------------------------------------------

const Kit driveKit{"X.....X..x..", "...X.....X..", "xoxxoxxoxxox", "..........o.", 0.9};

// One bar of drum fill between sections: a roll, falling toms, a rising
// sweep and a bass drop. It lives in the spare rows 48 to 59 of the first
// flow pattern; the orders before it break to row 48.
XmPattern fill() {
    Part p(12, 48);
    p.put(0, ChKick, 60, Kick, 60);
    p.off(0, ChLead);
    p.off(0, ChLeadEcho);
    p.off(0, ChCounter);
    snareRoll(p, 0, 12, 22, 50);
    p.effect(9, ChSnare, fxExtended, retrig(2));
    p.effect(10, ChSnare, fxExtended, retrig(2));
    p.effect(11, ChSnare, fxExtended, retrig(1));
    p.put(3, ChOpenHat, 60, OpenHat, 40);
    p.put(6, ChTom, 57, Tom, 50, fxPan, 0x50);
    p.put(8, ChTom, 53, Tom, 52, fxPan, 0x80);
    p.put(10, ChTom, 50, Tom, 56, fxPan, 0xb0);
    p.off(6, ChBass);
    riser(p, 0, 12, 14, 44, 0x08);
    return p.finish();
}

XmPattern flowA() {
    Part p(48, 0, flowGain);
    const Chord chords[4] = {Dm, C, Bb, A};
    impact(p, 0, 50);
    p.off(0, ChBell);
    for (int i = 0; i < 3; ++i) p.off(0, ChKeys1 + i);
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], 28, false);
        arpBar(p, b, chords[b], ArpStyle::Up, 38, 12);
        bassBar(p, b, chords[b], BassStyle::Drive, 56);
    }
    drums(p, 0, 4, driveKit);
    melody(p, 0, ChLead, ChLeadEcho, Lead,
           {{0, 81, 12}, {12, 79, 6}, {18, 76, 6}, {24, 77, 9}, {33, 74, 3}, {36, 76, 6}, {42, 73, 3},
            {45, 76, 3}},
           42, 0x28, 0xf0);
    return overlay(p.finish(), fill());
}

XmPattern flowB() {
    Part p(48, 0, flowGain);
    const Chord chords[4] = {Dm, C, Bb, C};
    p.put(0, ChCrash, 60, Crash, 44);
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], 28, false);
        arpBar(p, b, chords[b], ArpStyle::Up, 38, 12);
        bassBar(p, b, chords[b], BassStyle::Drive, 56);
    }
    drums(p, 0, 4, driveKit);
    melody(p, 0, ChLead, ChLeadEcho, Lead,
           {{0, 77, 6}, {6, 81, 6}, {12, 79, 6}, {18, 76, 3}, {21, 72, 3}, {24, 74, 6}, {30, 77, 6}, {36, 76, 6},
            {42, 79, 6}},
           42, 0x28, 0xf0);
    melody(p, 0, ChBell, ChBellEcho, Bell, {{6, 86, 6}, {18, 84, 6}, {30, 82, 6}, {42, 84, 6}}, 26, 0x40, 0xc0);
    return p.finish(48);
}

// --- Scene 5: warm chords ---------------------------------------------------

const Kit warmKit{"X.....x.....", ".........o..", "-.,-.,-.,-.,", nullptr, 0.9};

XmPattern warmA() {
    Part p(48, 0, warmGain);
    const Chord chords[4] = {Fmaj7, Dm7, Bbmaj7, C};
    impact(p, 0, 53);
    p.off(0, ChArp);
    p.off(0, ChArpEcho);
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], 24, b == 0);
        keysChord(p, b * bar, chords[b], 46);
        keysChord(p, b * bar + 6, chords[b], 26);
        bassBar(p, b, chords[b], BassStyle::Pulse, 52);
    }
    drums(p, 0, 4, warmKit);
    // The theme in F major, two degrees up, lyrical on the lead.
    std::vector<Note> tune = themeVariant(2, 0, 1);
    tune.push_back({36, 79, 12});
    melody(p, 0, ChLead, ChLeadEcho, Lead, tune, 36, 0x28, 0xf0);
    return p.finish();
}

XmPattern warmB() {
    Part p(48, 0, warmGain);
    const Chord chords[4] = {Fmaj7, Am7, Bbmaj7, C};
    p.put(0, ChCrash, 60, Crash, 36);
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], 24, false);
        keysChord(p, b * bar, chords[b], 44);
        keysChord(p, b * bar + 6, chords[b], 24);
        bassBar(p, b, chords[b], BassStyle::Pulse, 52);
        arpBar(p, b, chords[b], ArpStyle::Roll, 29);
    }
    drums(p, 0, 4, warmKit);
    const std::vector<Note> tune{{0, 81, 6}, {6, 84, 6}, {12, 84, 6}, {18, 81, 6}, {24, 82, 3},
                                 {27, 81, 3}, {30, 77, 6}, {36, 79, 9}, {45, 76, 3}};
    melody(p, 0, ChLead, ChLeadEcho, Lead, tune, 36, 0x28, 0xf0);
    for (const Note& n : tune) p.put(n.row, ChBell, n.midi + 12, Bell, 18, fxPan, 0xa8);
    return p.finish(48);
}

// --- Scene 6: techy, arpeggiated, glitchy ---------------------------------------

const Kit techKit{"X..X..X...x.", "......X.....", "xoxoxoxoxoxo", nullptr, 0.9};

// `arpeggios` holds the tracker arpeggio (third and fifth above the root) of
// each bar's chord.
void techCommon(Part& p, const Chord* chords, const int* arpeggios) {
    for (int b = 0; b < 4; ++b) {
        padChord(p, b * bar, chords[b], 28, false);
        arpBar(p, b, chords[b], ArpStyle::Up, 44, 12);
        bassBar(p, b, chords[b], BassStyle::Drive, 46);
        // A chip-like chord: the tracker arpeggio steps through root, third
        // and fifth every tick, gated in short bursts.
        // Only the first hit names the instrument, so the panning set on the
        // row after it holds for the rest of the pattern.
        for (int r = 0; r < bar; r += 3) {
            const int row = b * bar + r;
            p.put(row, ChCounter, chords[b].bass + 36, row == 0 ? Lead : 0, r == 0 ? 30 : 22, 0x0, arpeggios[b]);
        }
        // Zaps on the off-beats.
        p.put(b * bar + 5, ChTom, 86, Tom, 30, fxPortaDown, 0x80);
        p.put(b * bar + 11, ChTom, 91, Tom, 24, fxPortaDown, 0x80);
        p.put(b * bar + 6, ChTom, 0, 0, -1, fxPan, b % 2 ? 0x30 : 0xd0);
    }
    drums(p, 0, 4, techKit);
    p.effect(1, ChCounter, fxPan, 0x28);
}

XmPattern techA() {
    Part p(48, 0, techGain);
    const Chord chords[4] = {Dm, Dm, Bb, C};
    const int arpeggios[4] = {0x37, 0x37, 0x47, 0x47};
    impact(p, 0, 50);
    p.off(0, ChLead);
    for (int i = 0; i < 3; ++i) p.off(0, ChKeys1 + i);
    techCommon(p, chords, arpeggios);
    // Glitches: stuttered bells and a retriggered hat.
    melody(p, 0, ChBell, ChBellEcho, Bell, {{2, 93, 1}, {14, 91, 1}, {26, 89, 1}, {38, 91, 1}}, 30, 0x30, 0xd0, 2);
    for (int row : {2, 14, 26, 38}) p.effect(row, ChBell, fxExtended, retrig(2));
    p.effect(23, ChHat, fxExtended, retrig(1));
    p.effect(47, ChHat, fxExtended, retrig(1));
    return p.finish();
}

XmPattern techB() {
    Part p(48, 0, techGain);
    const Chord chords[4] = {Gm, Bb, Gm, A};
    const int arpeggios[4] = {0x37, 0x47, 0x37, 0x47};
    p.put(0, ChCrash, 60, Crash, 40);
    techCommon(p, chords, arpeggios);
    melody(p, 0, ChBell, ChBellEcho, Bell, {{2, 91, 1}, {14, 94, 1}, {26, 91, 1}, {38, 88, 1}}, 30, 0x30, 0xd0, 2);
    for (int row : {2, 14, 26, 38}) p.effect(row, ChBell, fxExtended, retrig(2));
    // Stutters on the last beat of every other bar.
    for (int row : {21, 22, 23, 45, 46, 47}) p.put(row, ChSnare, 60, Snare, 30 + (row % 3) * 8, fxExtended, retrig(2));
    p.effect(33, ChBass, fxExtended, retrig(2));
    return p.finish(16);  // the heavy groove sits in rows 16 to 63
}

// --- Scene 7: the heaviest groove, with stutters where the picture smears ---------

const Kit heavyKit{"X..X..X..X.x", "...X.....X..", "x.xx.xx.xx.x", "......o.....", 0.92};

// The pads turn into a gated power chord (root, fifth, octave, low): their
// volume is set on every row to a 12/8 gate, the texture of this scene alone.
void gatedPowerChord(Part& p, int barIndex, const Chord& c, int v) {
    static const char gate[13] = "X.oX.oX.oXxo";
    const int notes[3] = {c.bass + 12, c.bass + 19, c.bass + 24};
    const int pans[3] = {0x08, 0xb0, 0xf8};
    for (int i = 0; i < bar; ++i) {
        const int row = barIndex * bar + i;
        const int level = gate[i] == 'X' ? v : gate[i] == 'x' ? v * 3 / 4 : gate[i] == 'o' ? v / 3 : v / 8;
        for (int k = 0; k < 3; ++k) {
            if (i == 0) p.put(row, ChPad1 + k, notes[k], Pad, level, fxPan, pans[k]);
            else p.volume(row, ChPad1 + k, level);
        }
    }
}

void heavyCommon(Part& p, const Chord* chords) {
    for (int b = 0; b < 4; ++b) {
        gatedPowerChord(p, b, chords[b], 52);
        bassBar(p, b, chords[b], BassStyle::Heavy, 50);
        // Clap-like layer on the backbeat: a higher snare.
        p.put(b * bar + 3, ChPerc, 67, Snare, 50, fxPan, 0x30);
        p.put(b * bar + 9, ChPerc, 67, Snare, 50, fxPan, 0xd0);
        // The bass riff an octave up on the counter channel.
        p.put(b * bar, ChCounter, chords[b].bass + 12, Bass, 34, fxPan, 0xe0);
        p.put(b * bar + 6, ChCounter, chords[b].bass + 19, Bass, 28, fxPan, 0xe0);
    }
    drums(p, 0, 4, heavyKit);
}

// Three rows of retriggered drums and bass.
void stutter(Part& p, int row) {
    for (int i = 0; i < 3; ++i) {
        p.put(row + i, ChSnare, 60, Snare, 44 + 6 * i, fxExtended, retrig(2 - i / 2));
        p.effect(row + i, ChBass, fxExtended, retrig(3));
        p.put(row + i, ChHat, 60, ClosedHat, 40, fxExtended, retrig(1));
    }
}

// The theme an octave down, at double speed, as a riff: two passes a
// pattern, the second ending on C sharp and E over the A chord.
std::vector<Note> heavyRiff() {
    std::vector<Note> riff;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < theme.size(); ++i) {
            const Note& n = theme[i];
            int midi = n.midi - 12;
            if (pass == 1 && i + 2 == theme.size()) midi = 61;
            if (pass == 1 && i + 1 == theme.size()) midi = 64;
            riff.push_back({pass * 24 + n.row / 2 + n.row % 2, midi, std::max(1, n.length / 2)});
        }
    }
    return riff;
}

// The ending: on the downbeat after the last A chord the song lands on D
// minor, everything rings out and stops. It lives in rows 0 to 15 of the
// first heavy pattern, before the heavy groove.
XmPattern outro() {
    Part p(16, 0);
    p.put(0, ChCrash, 60, Crash, 40);
    p.put(0, ChKick, 60, Kick, 56);
    p.put(0, ChTom, 38, Tom, 40);
    p.off(0, ChRiser);
    p.off(0, ChArp);
    p.off(0, ChArpEcho);
    p.off(0, ChCounter);
    p.put(0, ChBass, Dm.bass, Bass, 48);
    padChord(p, 0, Dm, 40, false);
    keysChord(p, 0, Dm, 44);
    p.put(0, ChLead, 74, Lead, 42, fxPan, 0x28);
    p.put(3, ChLeadEcho, 74, Lead, 16, fxPan, 0xf0);
    p.put(0, ChBell, 86, Bell, 34, fxPan, 0x50);
    p.put(6, ChBellEcho, 86, Bell, 14, fxPan, 0xc0);
    // Let go: the bass stops, the rest fades a little on every row (a fine
    // volume slide), the lead fastest, the pads and keys over the whole ending.
    p.off(6, ChBass);
    for (int row = 1; row < p.length; ++row) {
        p.fineVolumeDown(row, ChLead, 3);
        p.fineVolumeDown(row, ChLeadEcho, 1);
        for (int i = 0; i < 3; ++i) {
            p.fineVolumeDown(row, ChPad1 + i, 2);
            p.fineVolumeDown(row, ChKeys1 + i, 2);
        }
    }
    return p.finish(48);  // the song's last order: a held empty row
}

XmPattern heavyA() {
    Part p(48, 16, heavyGain);
    const Chord chords[4] = {Dm, Dm, Bb, A};
    impact(p, 0, 45);
    p.off(0, ChBell);
    p.off(0, ChBellEcho);
    p.off(0, ChArp);
    p.off(0, ChArpEcho);
    heavyCommon(p, chords);
    melody(p, 0, ChLead, ChLeadEcho, Lead, heavyRiff(), 44, 0x28, 0xf0);
    stutter(p, 0);
    stutter(p, 39);
    return overlay(p.finish(), outro());
}

XmPattern heavyB() {
    Part p(48, 0, heavyGain);
    const Chord chords[4] = {Dm, Dm, Gm, A};
    p.put(0, ChCrash, 60, Crash, 46);
    heavyCommon(p, chords);
    melody(p, 0, ChLead, ChLeadEcho, Lead,
           {{0, 74, 3}, {3, 69, 3}, {6, 72, 2}, {8, 74, 4}, {12, 77, 3}, {15, 76, 3}, {18, 74, 3}, {21, 72, 3},
            {24, 79, 6}, {30, 82, 3}, {33, 81, 3}, {36, 81, 9}, {45, 76, 3}},
           44, 0x28, 0xf0);
    stutter(p, 9);
    stutter(p, 30);
    return p.finish(48);
}

// --- Scene 8: the reprise --------------------------------------------------------

// Five bars, played twice: the theme over a fuller groove than the second
// scene's (driving bass, keys stabs, open hats), a new bell counter-line
// falling against it, and a bar of A that leads home. The second time the
// A resolves into the ending.
XmPattern reprise() {
    Part p(60, 0, repriseGain);
    const Chord chords[5] = {Dm, Bb, F, C, A};
    p.put(0, ChCrash, 60, Crash, 50);
    p.off(0, ChRiser);
    for (int b = 0; b < 5; ++b) {
        padChord(p, b * bar, chords[b], 30, false);
        arpBar(p, b, chords[b], ArpStyle::Up, 34, 12);
        bassBar(p, b, chords[b], b < 4 ? BassStyle::Drive : BassStyle::Pulse, 58);
        keysChord(p, b * bar + 3, chords[b], 34, 5);
        keysChord(p, b * bar + 9, chords[b], 28, 5);
    }
    drums(p, 0, 4, {"X.....X..X..", "...X.....X..", "x.xx.xx.xx.x", "..o.....o...", 1.0});
    drums(p, 4, 5, {"X.....X.....", "...X..x.xXxX", "xxxxxxxxxxxx", nullptr, 1.0});
    eightRowFigure(p, chords);
    // As in the second scene the theme enters on the second bar, with the
    // poem; over the A it turns towards home.
    p.off(0, ChLead);
    p.off(0, ChLeadEcho);
    std::vector<Note> tune = theme;
    tune.push_back({36, 76, 6});
    tune.push_back({42, 73, 6});
    melody(p, 12, ChLead, ChLeadEcho, Lead, tune, 46, 0x28, 0xf0);
    melody(p, 0, ChBell, ChBellEcho, Bell, {{0, 86, 12}, {12, 86, 6}, {18, 84, 6}, {24, 84, 12}, {36, 83, 6},
                                            {42, 79, 6}, {48, 85, 6}, {54, 88, 6}},
           32, 0xb0, 0x40);
    return p.finish();
}

}  // namespace

Score composeScore() {
    Score s;
    // Patterns in the order they first play; some hold a second stretch in
    // rows they do not otherwise play (the fill, the ending, the last order).
    s.patterns = {intro1(), intro2(), intro3(), intro4(), themeA(), themeB(), softA(), softB(), flowA(),
                  flowB(),  reprise(), warmA(), warmB(), techA(),  techB(),  heavyA(), heavyB()};
    enum { I1, I2, I3, I4, ThA, ThB, SoA, SoB, FlA, FlB, Rep, WaA, WaB, TeA, TeB, HeA, HeB };
    // Scene starts fall on orders 4, 6, 8, 11, 14, 16 and 19. Orders 10, 13
    // and 18 are the fill (rows 48-59 of the first flow pattern), 16 enters
    // the first heavy pattern at row 16, 21 is the ending (its rows 0-15) and
    // 22 an empty held row; then the song loops back to the main groove.
    s.orders = {I1,  I2,  I3,  I4,  ThA, ThB, SoA, SoB, FlA, FlB, FlA, WaA,
                WaB, FlA, TeA, TeB, HeA, HeB, FlA, Rep, Rep, HeA, ThB};
    s.restartPosition = 4;
    return s;
}

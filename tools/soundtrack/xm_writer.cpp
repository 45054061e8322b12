#include "soundtrack/xm_writer.hpp"

#include <stdexcept>

namespace {

struct Bytes {
    std::vector<std::uint8_t> out;
    void u8(unsigned v) { out.push_back(static_cast<std::uint8_t>(v & 0xff)); }
    void u16(unsigned v) { u8(v); u8(v >> 8); }
    void u32(std::uint32_t v) { u16(v & 0xffff); u16(v >> 16); }
    void text(const std::string& s, std::size_t width, char pad = 0) {
        if (s.size() > width) throw std::invalid_argument("XM: text too long: " + s);
        for (std::size_t i = 0; i < width; ++i) u8(static_cast<unsigned char>(i < s.size() ? s[i] : pad));
    }
    void zeros(std::size_t n) { out.insert(out.end(), n, 0); }
};

// Packed cell: a flag byte (bit 7 set) says which of the five fields follow;
// an empty cell takes one byte. A full cell is written unpacked.
void packCell(Bytes& b, const XmCell& c) {
    unsigned flags = 0x80;
    if (c.note) flags |= 1;
    if (c.instrument) flags |= 2;
    if (c.volume) flags |= 4;
    if (c.effect) flags |= 8;
    if (c.param) flags |= 16;
    if (flags == 0x9f) {
        b.u8(c.note); b.u8(c.instrument); b.u8(c.volume); b.u8(c.effect); b.u8(c.param);
        return;
    }
    b.u8(flags);
    if (c.note) b.u8(c.note);
    if (c.instrument) b.u8(c.instrument);
    if (c.volume) b.u8(c.volume);
    if (c.effect) b.u8(c.effect);
    if (c.param) b.u8(c.param);
}

void writePattern(Bytes& b, const XmPattern& p, int channels) {
    if (p.channels != channels) throw std::invalid_argument("XM: pattern channel count differs from the module's");
    if (p.rows < 1 || p.rows > 256) throw std::invalid_argument("XM: pattern row count out of range");
    Bytes data;
    for (const XmCell& c : p.cells) {
        if (c.note > 97) throw std::invalid_argument("XM: note out of range");
        packCell(data, c);
    }
    if (data.out.size() > 0xffff) throw std::invalid_argument("XM: packed pattern larger than 64 KiB");
    b.u32(9);
    b.u8(0);
    b.u16(static_cast<unsigned>(p.rows));
    b.u16(static_cast<unsigned>(data.out.size()));
    b.out.insert(b.out.end(), data.out.begin(), data.out.end());
}

void writeEnvelopePoints(Bytes& b, const XmEnvelope& e) {
    if (e.points.size() > 12) throw std::invalid_argument("XM: envelope has more than 12 points");
    for (std::size_t i = 0; i < 12; ++i) {
        if (i < e.points.size()) {
            if (e.points[i].value > 64) throw std::invalid_argument("XM: envelope value above 64");
            b.u16(e.points[i].tick);
            b.u16(e.points[i].value);
        } else {
            b.u32(0);
        }
    }
}

unsigned envelopeIndex(int i) { return i < 0 ? 0u : static_cast<unsigned>(i); }

unsigned envelopeType(const XmEnvelope& e) {
    if (e.points.empty()) return 0;
    return 1u | (e.sustain >= 0 ? 2u : 0u) | (e.loopStart >= 0 ? 4u : 0u);
}

void writeInstrument(Bytes& b, const XmInstrument& in) {
    constexpr std::uint32_t headerSize = 263;  // the size FastTracker 2 writes
    const std::size_t start = b.out.size();
    b.u32(headerSize);
    b.text(in.name, 22);
    b.u8(0);
    b.u16(1);
    b.u32(40);
    b.zeros(96);  // every note plays sample 0
    writeEnvelopePoints(b, in.volumeEnvelope);
    writeEnvelopePoints(b, in.panningEnvelope);
    b.u8(static_cast<unsigned>(in.volumeEnvelope.points.size()));
    b.u8(static_cast<unsigned>(in.panningEnvelope.points.size()));
    b.u8(envelopeIndex(in.volumeEnvelope.sustain));
    b.u8(envelopeIndex(in.volumeEnvelope.loopStart));
    b.u8(envelopeIndex(in.volumeEnvelope.loopEnd));
    b.u8(envelopeIndex(in.panningEnvelope.sustain));
    b.u8(envelopeIndex(in.panningEnvelope.loopStart));
    b.u8(envelopeIndex(in.panningEnvelope.loopEnd));
    b.u8(envelopeType(in.volumeEnvelope));
    b.u8(envelopeType(in.panningEnvelope));
    b.u8(in.vibratoType);
    b.u8(in.vibratoSweep);
    b.u8(in.vibratoDepth);
    b.u8(in.vibratoRate);
    b.u16(in.fadeout);
    b.u16(0);
    b.zeros(headerSize - (b.out.size() - start));

    const XmSample& s = in.sample;
    const auto frames = static_cast<std::uint32_t>(s.data.size());
    if (s.loopLength < 0 || s.loopStart < 0 ||
        static_cast<std::uint32_t>(s.loopStart + s.loopLength) > frames) {
        throw std::invalid_argument("XM: loop outside sample " + in.name);
    }
    b.u32(frames * 2);
    b.u32(static_cast<std::uint32_t>(s.loopStart) * 2);
    b.u32(static_cast<std::uint32_t>(s.loopLength) * 2);
    b.u8(s.volume);
    b.u8(static_cast<std::uint8_t>(s.finetune));
    b.u8((s.loopLength > 0 ? 1u : 0u) | 0x10u);  // forward loop, 16-bit
    b.u8(s.panning);
    b.u8(static_cast<std::uint8_t>(s.relativeNote));
    b.u8(0);
    b.text("", 22);
    // Sample data is stored as differences between neighbours.
    std::int16_t previous = 0;
    for (std::int16_t v : s.data) {
        b.u16(static_cast<std::uint16_t>(static_cast<std::uint16_t>(v) - static_cast<std::uint16_t>(previous)));
        previous = v;
    }
}

}  // namespace

std::vector<std::uint8_t> writeXm(const XmModule& m) {
    if (m.orders.empty() || m.orders.size() > 256) throw std::invalid_argument("XM: order count out of range");
    if (m.patterns.size() > 256 || m.instruments.size() > 128) throw std::invalid_argument("XM: too many patterns or instruments");
    if (m.channels < 1 || m.channels > 32) throw std::invalid_argument("XM: channel count out of range");
    for (std::uint8_t o : m.orders) {
        if (o >= m.patterns.size()) throw std::invalid_argument("XM: order refers to a missing pattern");
    }
    Bytes b;
    b.text("Extended Module: ", 17);
    // FastTracker 2 pads the name with spaces; players take a name padded
    // with zeros for another tracker's and mix it differently.
    b.text(m.name, 20, ' ');
    b.u8(0x1a);
    b.text("FastTracker v2.00   ", 20);
    b.u16(0x0104);
    b.u32(276);
    b.u16(static_cast<unsigned>(m.orders.size()));
    b.u16(static_cast<unsigned>(m.restartPosition));
    b.u16(static_cast<unsigned>(m.channels));
    b.u16(static_cast<unsigned>(m.patterns.size()));
    b.u16(static_cast<unsigned>(m.instruments.size()));
    b.u16(m.linearFrequencies ? 1 : 0);
    b.u16(static_cast<unsigned>(m.speed));
    b.u16(static_cast<unsigned>(m.bpm));
    for (std::size_t i = 0; i < 256; ++i) b.u8(i < m.orders.size() ? m.orders[i] : 0);
    for (const XmPattern& p : m.patterns) writePattern(b, p, m.channels);
    for (const XmInstrument& in : m.instruments) writeInstrument(b, in);
    return b.out;
}

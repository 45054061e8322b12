#include "xm_writer.hpp"

#include <cstring>
#include <string>

namespace {

struct Writer {
    std::vector<unsigned char> bytes;

    void u8(int v) { bytes.push_back(static_cast<unsigned char>(v)); }
    void u16(int v) { u8(v & 0xff); u8((v >> 8) & 0xff); }
    void u32(long v) { u16(static_cast<int>(v & 0xffff)); u16(static_cast<int>((v >> 16) & 0xffff)); }
    void text(const std::string& s, std::size_t size)
    {
        for (std::size_t i = 0; i < size; ++i)
            u8(i < s.size() ? s[i] : 0);
    }
    void zeros(std::size_t count) { bytes.insert(bytes.end(), count, 0); }
};

constexpr int sampleLength = 64;  // two periods of a 32-sample square wave
constexpr int noteC4 = 49;

} // namespace

std::vector<unsigned char> writeTestXm(const TestXm& shape)
{
    Writer w;
    w.text("Extended Module: ", 17);
    w.text("", 20);  // blank module name
    w.u8(0x1a);
    w.text("morvane tests", 20);
    w.u16(0x0104);
    w.u32(276);  // header size from here on
    w.u16(shape.patterns);  // song length in orders
    w.u16(shape.restart);
    w.u16(shape.channels);
    w.u16(shape.patterns);
    w.u16(1);  // instruments
    w.u16(1);  // linear frequency table
    w.u16(shape.speed);
    w.u16(shape.bpm);
    for (int order = 0; order < 256; ++order)
        w.u8(order < shape.patterns ? order : 0);

    for (int p = 0; p < shape.patterns; ++p) {
        Writer data;
        for (int row = 0; row < shape.rowsPerPattern; ++row) {
            for (int channel = 0; channel < shape.channels; ++channel) {
                if (row == 0 && channel == 0) {
                    data.u8(0x83);  // packed: note and instrument follow
                    data.u8(noteC4);
                    data.u8(1);
                } else {
                    data.u8(0x80);  // packed: empty
                }
            }
        }
        w.u32(9);  // pattern header length
        w.u8(0);   // packing type
        w.u16(shape.rowsPerPattern);
        w.u16(static_cast<int>(data.bytes.size()));
        w.bytes.insert(w.bytes.end(), data.bytes.begin(), data.bytes.end());
    }

    // Instrument: 263-byte header with one sample, every note mapped to it.
    const std::size_t instrumentStart = w.bytes.size();
    w.u32(263);
    w.text("square", 22);
    w.u8(0);
    w.u16(1);
    w.u32(40);  // sample header size
    w.zeros(263 - (w.bytes.size() - instrumentStart));

    // Sample header: forward loop over the whole 8-bit sample, full volume.
    w.u32(sampleLength);
    w.u32(0);
    w.u32(sampleLength);
    w.u8(64);
    w.u8(0);
    w.u8(1);
    w.u8(128);
    w.u8(0);
    w.u8(0);
    w.text("square", 22);

    // Sample data, delta coded.
    int previous = 0;
    for (int i = 0; i < sampleLength; ++i) {
        const int value = (i / 16) % 2 ? -64 : 64;
        w.u8((value - previous) & 0xff);
        previous = value;
    }
    return w.bytes;
}

int framesPerRow(const TestXm& shape)
{
    // A tick lasts 2.5 / bpm seconds.
    return 44100 * shape.speed * 5 / (2 * shape.bpm);
}

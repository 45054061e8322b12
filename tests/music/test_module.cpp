#include "test_module.hpp"

#include "soundtrack/xm_writer.hpp"

std::vector<unsigned char> writeTestXm(const TestXm& shape)
{
    XmModule m;
    m.channels = 2;
    m.speed = shape.speed;
    m.bpm = shape.bpm;
    for (int p = 0; p < shape.patterns; ++p) {
        m.orders.push_back(static_cast<std::uint8_t>(p));
        m.patterns.emplace_back(shape.rowsPerPattern, m.channels);
        m.patterns.back().at(0, 0) = {49, 1, 0, 0, 0};  // C-4, instrument 1
    }
    XmInstrument square;
    square.name = "square";
    for (int i = 0; i < 64; ++i)  // two periods, looped
        square.sample.data.push_back((i / 16) % 2 ? -16384 : 16384);
    square.sample.loopLength = 64;
    m.instruments = {square};
    return writeXm(m);
}

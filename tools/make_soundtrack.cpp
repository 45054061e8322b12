// Writes the show's soundtrack, an FT2 Extended Module, to the path given:
// synthesised instruments, the score, and the module header. The output is
// the same on every run.
#include "soundtrack/arrangement.hpp"
#include "soundtrack/instruments.hpp"
#include "soundtrack/xm_writer.hpp"

#include <cstdio>
#include <exception>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_soundtrack <output.xm>\n");
        return 2;
    }
    try {
        Score score = composeScore();
        XmModule module;
        module.name = "";
        module.channels = soundtrackChannels;
        module.restartPosition = score.restartPosition;
        module.speed = 6;
        module.bpm = 84;
        module.linearFrequencies = true;
        module.orders = score.orders;
        module.patterns = std::move(score.patterns);
        module.instruments = makeInstruments();
        const std::vector<std::uint8_t> bytes = writeXm(module);
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "make_soundtrack: cannot write %s\n", argv[1]);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_soundtrack: %s\n", e.what());
        return 1;
    }
    return 0;
}

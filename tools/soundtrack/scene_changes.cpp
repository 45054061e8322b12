#include "soundtrack/scene_changes.hpp"

#include <algorithm>

namespace {

// libopenmpt's special note values.
constexpr int noteFade = 253, noteCut = 254, noteOff = 255;

}  // namespace

std::vector<PlayedPattern> readPlayedOrders(openmpt_module* module) {
    std::vector<PlayedPattern> orders;
    const int channels = openmpt_module_get_num_channels(module);
    int entry = 0;  // the row a break sends the next order to
    for (int o = 0; o < openmpt_module_get_num_orders(module); ++o) {
        const int pattern = openmpt_module_get_order_pattern(module, o);
        const int patternRows = openmpt_module_get_pattern_num_rows(module, pattern);
        PlayedPattern p;
        p.channels = channels;
        p.first = std::min(entry, std::max(0, patternRows - 1));
        p.rows = patternRows - p.first;
        p.events.assign(static_cast<std::size_t>(p.rows * channels), 0);
        entry = 0;
        for (int r = 0; r < p.rows; ++r) {
            const int row = p.first + r;
            bool breaks = false;
            for (int ch = 0; ch < channels; ++ch) {
                const int note =
                    openmpt_module_get_pattern_row_channel_command(module, pattern, row, ch, OPENMPT_MODULE_COMMAND_NOTE);
                int& e = p.events[static_cast<std::size_t>(r * channels + ch)];
                if (note == noteOff || note == noteCut || note == noteFade) e = -1;
                else if (note > 0) e = note;
                // A note cut in the effect column (ECx) ends the note too.
                const char* effect =
                    openmpt_module_format_pattern_row_channel_command(module, pattern, row, ch, OPENMPT_MODULE_COMMAND_EFFECT);
                const char* param = openmpt_module_format_pattern_row_channel_command(module, pattern, row, ch,
                                                                                       OPENMPT_MODULE_COMMAND_PARAMETER);
                const char letter = effect ? effect[0] : 0;
                if (letter == 'E' && param && (param[0] == 'C' || param[0] == 'c') && e == 0) e = -1;
                if (letter == 'D') {
                    breaks = true;
                    // libopenmpt gives the target row as a number, decoded from the decimal digits.
                    entry = openmpt_module_get_pattern_row_channel_command(module, pattern, row, ch,
                                                                           OPENMPT_MODULE_COMMAND_PARAMETER);
                }
                openmpt_free_string(effect);
                openmpt_free_string(param);
            }
            if (breaks) {
                p.rows = r + 1;
                p.events.resize(static_cast<std::size_t>(p.rows * channels));
                break;
            }
        }
        orders.push_back(std::move(p));
    }
    return orders;
}

ChannelChanges channelChanges(const PlayedPattern& before, const PlayedPattern& at, int barRows) {
    ChannelChanges c;
    const int channels = std::min(before.channels, at.channels);
    for (int ch = 0; ch < channels; ++ch) {
        bool playedBefore = false, playsInFirstBar = false;
        for (int row = std::max(0, before.rows - barRows); row < before.rows; ++row) playedBefore |= before.at(row, ch) > 0;
        for (int row = 0; row < std::min(barRows, at.rows); ++row) playsInFirstBar |= at.at(row, ch) > 0;
        const int first = at.rows > 0 ? at.at(0, ch) : 0;
        if (first > 0 && !playedBefore) c.started.push_back(ch);
        if (playedBefore && (first < 0 || !playsInFirstBar)) c.stopped.push_back(ch);
    }
    return c;
}

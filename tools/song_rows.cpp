// song_rows OUT.cpp: writes, as a C++ source, the pattern row the offline
// player reports at every frame of the show at 60 frames per second. The page
// draws its stills and benchmark without a player of its own; with these rows
// its scenes see the same rows as morvane-render's.
//
// morvane-render renders, before frame k, the audio from frame k - 1 to frame
// k (735 frames at 44,100 Hz), and the row is the one at the start of that
// block; after the song's end the last row stays. Entry k - 1 is the row of
// frame k; frame 0 has row 0.
#include "assets/stored_data.hpp"
#include "driver/timeline.hpp"
#include "music/music.hpp"

#include <cmath>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: song_rows OUT.cpp\n");
        return 2;
    }
    FSOUND_File_SetCallbacks(memOpen, memClose, memRead, memSeek, memTell);
    song = FMUSIC_LoadSong(reinterpret_cast<const char*>(soundtrackModule));
    if (!song || !FMUSIC_PlaySongOffline(song)) {
        std::fprintf(stderr, "song_rows: the soundtrack cannot be played\n");
        return 1;
    }
    constexpr int fps = 60;
    constexpr int block = 44100 / fps;
    const long long frames =
        static_cast<long long>(std::ceil(static_cast<double>(timeline.entries[timeline.count].start) * fps)) + 1;
    std::vector<int> rows;
    float buffer[block * 2];
    bool ended = false;
    for (long long k = 1; k <= frames; ++k) {
        if (!ended)
            ended = FMUSIC_RenderOffline(song, buffer, block) <= 0;
        rows.push_back(FMUSIC_GetRow(song));
    }

    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::fprintf(stderr, "song_rows: cannot write %s\n", argv[1]);
        return 1;
    }
    std::fprintf(out, "// Written by song_rows; do not edit.\n#include \"platform/web/song_rows.hpp\"\n\n");
    std::fprintf(out, "const unsigned char songRows[] = {");
    for (std::size_t i = 0; i < rows.size(); ++i)
        std::fprintf(out, "%s%d,", i % 32 ? "" : "\n", rows[i]);
    std::fprintf(out, "\n};\nconst int songRowCount = %zu;\n", rows.size());
    const bool written = std::fclose(out) == 0;
    if (!written)
        std::fprintf(stderr, "song_rows: cannot write %s\n", argv[1]);
    FMUSIC_FreeSong(song);
    return written ? 0 : 1;
}

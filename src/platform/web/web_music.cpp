#include "platform/web/web_music.hpp"

struct Song {
    int row = 0;
    int volume = 256;
};

Song* song = nullptr;

namespace {
Song pageSong;
}

void webSongOpen()
{
    pageSong = Song{};
    song = &pageSong;
}

void webSongSetRow(int row)
{
    pageSong.row = row;
}

int webSongVolume()
{
    return pageSong.volume;
}

int FMUSIC_GetRow(Song* target)
{
    return target ? target->row : 0;
}

bool FMUSIC_SetMasterVolume(Song* target, int volume)
{
    if (!target)
        return false;
    target->volume = volume < 0 ? 0 : volume > 256 ? 256 : volume;
    return true;
}

// The song as the scenes see it in the page: its row and master volume.
// The music itself plays in the page's audio worklet; the frame loop passes
// the row it reports in, and passes the master volume out to it.
#pragma once

#include "music/music.hpp"

// Makes the program-wide song the page's (row 0, full volume).
void webSongOpen();
void webSongSetRow(int row);
int webSongVolume();  // 0..256

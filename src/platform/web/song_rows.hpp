// The pattern row the offline player reports at each frame of the show at 60
// frames per second (entry k - 1 for frame k), written at build time by the
// native song_rows tool from the same stored module.
#pragma once

extern const unsigned char songRows[];
extern const int songRowCount;

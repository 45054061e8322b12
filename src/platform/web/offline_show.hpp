// The show stepped as morvane-render steps it: from 0 s at 60 frames per
// second, each frame with the row the offline player reports, so that the
// page and node draw the renderer's frames byte for byte.
#pragma once

enum class StillResult { drawn, passed, ended };

// Steps on to the first frame at or past `seconds` and leaves it in frame.
// One pass: a time before the frame last drawn is `passed`; a time past the
// end of the show is `ended`.
StillResult stepToStill(double seconds);

// Draws the whole show and prints the renderer's benchmark report.
void benchShow();

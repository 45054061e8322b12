// Everything the show builds before the music starts: the font, the
// timeline's derived columns and the eight scene preparations. The demo and
// the offline renderer both run it, so both draw the same frames.
#pragma once

void prepareShow();

// The font alone, the first step of prepareShow: for tools that prepare
// only some scenes and still draw their texts.
void prepareFont();

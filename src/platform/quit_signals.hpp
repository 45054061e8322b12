// The quit signals, SIGINT and SIGTERM. Each one that arrives calls the
// handler on a thread of its own, never inside the signal handler, so the
// handler may do anything a thread may (and must be safe against the
// threads it touches).
#pragma once

using XpQuitHandler = void (*)();

int xp_quit_signals_init(XpQuitHandler handler);  // 0, or -1 when they cannot be caught

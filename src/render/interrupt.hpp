// Ctrl-C, a hang-up or a termination request during a long export: the
// signal only sets a flag, and the export stops at the next frame, cleans up
// and reports.
#pragma once

void catchInterrupts();
bool interrupted();

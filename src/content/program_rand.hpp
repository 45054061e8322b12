// The program's one integer random sequence. The shapes of the trees and the
// clouds depend on its exact values and on the order in which the
// preparations draw them, so every preparation takes its values from here.
#pragma once

// state = state x 214013 + 2531011 (mod 2^32), starting from 1 and never
// reseeded; returns bits 16 to 30 of the new state, 0 to 32767.
int programRand();

// Back to the first state (for tests and repeatable start-ups).
void resetProgramRand();

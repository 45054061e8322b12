// SSE2 intrinsics on every machine. On x86-64 these are the native
// instructions; elsewhere (64-bit ARM, WebAssembly) SIMDe maps each one to the
// local vector instructions with the same results, so the packed pixel code
// is written once and draws the same bytes everywhere.
#pragma once

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/sse2.h>

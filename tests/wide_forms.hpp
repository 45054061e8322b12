// Runs a check once with the 16-byte forms and, where this machine has
// them, once more with the wide (AVX2) ones, and restores the choice.
#pragma once

#include "image/wide.hpp"

template <typename Check>
void forEachForm(Check check)
{
    const bool before = wideVectors();
    for (const bool wide : {false, true}) {
        if (useWideVectors(wide) != wide)
            break;
        check(wide);
    }
    useWideVectors(before);
}

// Puts the choice back when the scope ends, whichever forms the test drew with.
struct RestoreWideForms {
    bool before = wideVectors();
    ~RestoreWideForms() { useWideVectors(before); }
};

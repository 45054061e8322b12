// Transform properties: a value, the time it was last evaluated at, and an
// optional track (not owned) that supplies the value.
#pragma once

#include "engine/quaternion.hpp"
#include "engine/track.hpp"
#include "engine/vector.hpp"

// A time no scene clock reaches, so the first evaluation consults the track.
inline constexpr float NeverEvaluated = 666.0f;

// Update rule at time T: if lastTime != T and there is a track, the value
// becomes the track's value at T; in every case lastTime becomes T.
struct AnimatedFloat {
    float lastTime = NeverEvaluated;
    float value = 0.0f;
    FloatTrack* track = nullptr;
    void update(float time);
};

struct AnimatedVector {
    float lastTime = NeverEvaluated;
    Vector3 value = Vector3::zero;
    Track* track = nullptr;
    void update(float time);
};

struct AnimatedRotation {
    float lastTime = NeverEvaluated;
    Quaternion value = Quaternion(1.0f, 0.0f, 0.0f, 0.0f);
    RotationTrack* track = nullptr;
    void update(float time);
};

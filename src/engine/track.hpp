// A keyed path that an animated property can follow. The keyed spline
// implementation derives from this; the engine only asks it for a value.
#pragma once

#include "engine/quaternion.hpp"
#include "engine/vector.hpp"

class Track {
public:
    virtual ~Track() = default;
    virtual Vector3 evaluate(float time) = 0;
};

// Counterparts for scalar and rotation properties: the update rule copies a
// value of the property's own type. No scene attaches one.
class FloatTrack {
public:
    virtual ~FloatTrack() = default;
    virtual float evaluate(float time) = 0;
};

class RotationTrack {
public:
    virtual ~RotationTrack() = default;
    virtual Quaternion evaluate(float time) = 0;
};

// A keyed path that an animated property can follow: cubic Hermite curves
// between keys that carry their own arriving and leaving tangents. The
// spline kinds that derive the tangents (see content/tcb_track.hpp) build on
// this; the engine only asks it for a value.
#pragma once

#include "engine/quaternion.hpp"
#include "engine/vector.hpp"

struct TrackKey {
    float time;
    Vector3 position;
    Vector3 inTangent;   // with which the curve arrives at this key
    Vector3 outTangent;  // with which it leaves
};

// Returned where a track has no answer: no keys, or no segment holds the time.
inline constexpr Vector3 trackMiss{6.0f, 6.0f, 6.0f};

class Track {
public:
    static constexpr int maxKeys = 2000;

    // Room for `capacity` keys. One slot more is held back for the closing
    // key, so a track closed only after it was filled still has room for it.
    explicit Track(int capacity = 0);
    virtual ~Track();
    Track(const Track&) = delete;
    Track& operator=(const Track&) = delete;

    // Copies the key to the next slot and restarts the segment search.
    // Refused (false, nothing changed) past 2000 keys, past the capacity,
    // and for a closed track past the capacity less the closing key's slot.
    bool addKey(const TrackKey& key);

    // For a closed track t is a fraction of the loop (taken modulo 1, the
    // sign following t); for an open one a fraction of the whole track. The
    // position at that share of the last key's time, or trackMiss.
    virtual Vector3 evaluate(float t);

    int capacity() const { return slots; }

    TrackKey* keys = nullptr;  // keyCount keys, then a closed track's closing key
    bool closed = false;
    int keyCount = 0;
    int searchStart = 0;  // first key the segment search looks at

private:
    int slots = 0;
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

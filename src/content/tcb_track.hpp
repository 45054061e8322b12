// A keyed track whose tangents follow from each key's tension, continuity
// and bias (Kochanek-Bartels splines): tension -1 rounds the path out,
// +1 pulls it tight; continuity and bias bend and skew it at the key.
#pragma once

#include "engine/track.hpp"

struct TcbParams {
    float tension, continuity, bias;
};

class TcbTrack : public Track {
public:
    explicit TcbTrack(int capacity);
    ~TcbTrack() override;

    // Adds a key whose tangents are, for now, its position; false when the
    // track refuses it (see Track::addKey).
    bool addKey(float time, Vector3 position, float tension, float continuity, float bias);

    // Works out every key's tangents; run after the last key is added and
    // before evaluating. A closed track also gets its closing key: a copy of
    // key 0 one first interval after the last key. Fewer than two keys: no-op.
    void computeTangents();

    TcbParams* params = nullptr;  // one per key slot
};

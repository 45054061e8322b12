#include "engine/track.hpp"

#include <algorithm>
#include <cmath>

Track::Track(int capacity)
    : slots(std::max(capacity, 0))
{
    // Zeroed, so a closed track evaluated before its closing key is written
    // reads a defined key.
    keys = new TrackKey[static_cast<std::size_t>(slots) + 1]();
}

Track::~Track()
{
    delete[] keys;
}

bool Track::addKey(const TrackKey& key)
{
    const int limit = std::min(maxKeys, closed ? slots - 1 : slots);
    if (keyCount >= limit)
        return false;
    keys[keyCount++] = key;
    searchStart = 0;
    return true;
}

Vector3 Track::evaluate(float t)
{
    if (keyCount == 0)
        return trackMiss;
    if (keyCount == 1)
        return keys[0].position;

    const int last = closed ? keyCount : keyCount - 1;
    if (closed)
        t = static_cast<float>(std::fmod(static_cast<double>(t), 1.0));
    const float tau = static_cast<float>(static_cast<double>(keys[last].time) * t);
    if (tau <= keys[0].time)
        return keys[0].position;
    if (tau >= keys[last].time)
        return keys[last].position;

    if (tau < keys[searchStart].time)
        searchStart = 0;
    int i = searchStart;
    while (i < last && !(keys[i].time <= tau && tau < keys[i + 1].time))
        ++i;
    if (i >= last)
        return trackMiss;

    const TrackKey& a = keys[i];
    const TrackKey& b = keys[i + 1];
    const double s = (static_cast<double>(tau) - a.time) / (static_cast<double>(b.time) - a.time);
    const double s2 = s * s, s3 = s2 * s;
    const double h1 = 2.0 * s3 - 3.0 * s2 + 1.0;
    const double h2 = 3.0 * s2 - 2.0 * s3;
    const double h3 = s3 - 2.0 * s2 + s;
    const double h4 = s3 - s2;
    const auto blend = [&](float p0, float p1, float out0, float in1) {
        return static_cast<float>(h1 * p0 + h2 * p1 + h3 * out0 + h4 * in1);
    };
    return Vector3(blend(a.position.x, b.position.x, a.outTangent.x, b.inTangent.x),
                   blend(a.position.y, b.position.y, a.outTangent.y, b.inTangent.y),
                   blend(a.position.z, b.position.z, a.outTangent.z, b.inTangent.z));
}

#include "content/tcb_track.hpp"

#include <cmath>
#include <cstddef>

namespace {

struct Tangents {
    Vector3 in, out;
};

Vector3 combine(double a, const Vector3& u, double b, const Vector3& v)
{
    return Vector3(static_cast<float>(a * u.x + b * v.x), static_cast<float>(a * u.y + b * v.y),
                   static_cast<float>(a * u.z + b * v.z));
}

// The tangents at a key from its neighbours' positions and the time
// intervals before and after it.
Tangents kochanekBartels(const Vector3& previous, const Vector3& here, const Vector3& next, double dtPrev,
                         double dtNext, const TcbParams& p)
{
    const double ten = p.tension, con = p.continuity, bia = p.bias;
    const Vector3 dp = here - previous;
    const Vector3 dn = next - here;
    const double share = 1.0 - std::fabs(con);
    const double kIn = 0.5 + share * (dtPrev / (dtPrev + dtNext) - 0.5);
    const double kOut = 0.5 + share * (dtNext / (dtPrev + dtNext) - 0.5);
    const double in = kIn * (1.0 - ten), out = kOut * (1.0 - ten);
    return {combine(in * (1.0 + bia) * (1.0 - con), dp, in * (1.0 - bia) * (1.0 + con), dn),
            combine(out * (1.0 + bia) * (1.0 + con), dp, out * (1.0 - bia) * (1.0 - con), dn)};
}

} // namespace

TcbTrack::TcbTrack(int capacity)
    : Track(capacity)
{
    params = new TcbParams[static_cast<std::size_t>(this->capacity()) + 1]();
}

TcbTrack::~TcbTrack()
{
    delete[] params;
}

bool TcbTrack::addKey(float time, Vector3 position, float tension, float continuity, float bias)
{
    if (!Track::addKey(TrackKey{time, position, position, position}))
        return false;
    params[keyCount - 1] = TcbParams{tension, continuity, bias};
    return true;
}

void TcbTrack::computeTangents()
{
    if (keyCount < 2)
        return;
    TrackKey* k = keys;
    const int last = keyCount - 1;
    if (keyCount == 2) {
        const Vector3 d = k[1].position - k[0].position;
        k[0].outTangent = d * (1.0f - params[0].tension);
        k[1].inTangent = d * (1.0f - params[1].tension);
        return;
    }

    const auto setKey = [&](int i, int p, int n, double dtPrev, double dtNext) {
        const Tangents t = kochanekBartels(k[p].position, k[i].position, k[n].position, dtPrev, dtNext, params[i]);
        k[i].inTangent = t.in;
        k[i].outTangent = t.out;
    };
    for (int i = 1; i < last; ++i)
        setKey(i, i - 1, i + 1, static_cast<double>(k[i].time) - k[i - 1].time,
               static_cast<double>(k[i + 1].time) - k[i].time);

    if (!closed) {
        const double firstTension = 1.0 - params[0].tension;
        const double lastTension = 1.0 - params[last].tension;
        k[0].outTangent = combine(1.5 * firstTension, k[1].position - k[0].position, -0.5 * firstTension,
                                  k[1].inTangent);
        k[last].inTangent = combine(1.5 * lastTension, k[last].position - k[last - 1].position, -0.5 * lastTension,
                                    k[last - 1].outTangent);
        k[last].outTangent = Vector3::zero;
        k[0].inTangent = Vector3::zero;
        return;
    }

    const double firstInterval = static_cast<double>(k[1].time) - k[0].time;
    const double lastInterval = static_cast<double>(k[last].time) - k[last - 1].time;
    setKey(0, last, 1, firstInterval, firstInterval);
    setKey(last, last - 1, 0, lastInterval, lastInterval);
    k[keyCount] = k[0];
    k[keyCount].time = static_cast<float>(k[last].time + firstInterval);
}

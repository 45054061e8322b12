#include "engine/animated.hpp"

void AnimatedFloat::update(float time)
{
    if (lastTime != time && track)
        value = track->evaluate(time);
    lastTime = time;
}

void AnimatedVector::update(float time)
{
    if (lastTime != time && track)
        value = track->evaluate(time);
    lastTime = time;
}

void AnimatedRotation::update(float time)
{
    if (lastTime != time && track)
        value = track->evaluate(time);
    lastTime = time;
}

// Anything placed in a 3D scene: position, scale and rotation as animated
// properties, the local matrix rebuilt from them, and an optional parent.
#pragma once

#include "engine/animated.hpp"
#include "engine/matrix.hpp"

struct Object3D {
    char name[32];
    Matrix localMatrix;        // unset until the first updateLocalMatrix
    Object3D* parent = nullptr;  // not owned
    AnimatedVector position;
    AnimatedVector scale;
    AnimatedRotation rotation;

    Object3D();

    // Scale first, then rotation, then translation by position.
    void updateLocalMatrix();
    // Updates position, scale and rotation at this time, then the local matrix.
    void update(float time);
    // Local matrix under the parents' world matrices; rebuilds nothing.
    Matrix worldMatrix() const;
};

#include "engine/object3d.hpp"

#include <cstring>

Object3D::Object3D()
{
    std::memset(name, 0, sizeof name);
    std::strcpy(name, "<<no name>>");
    scale.value = Vector3(1.0f, 1.0f, 1.0f);
}

void Object3D::updateLocalMatrix()
{
    const Quaternion& q = rotation.value;
    const Vector3& s = scale.value;
    localMatrix = multiply(Matrix::fromQuaternion(q.w, q.x, q.y, q.z), Matrix::scaling(s.x, s.y, s.z));
    localMatrix.m[9] = position.value.x;
    localMatrix.m[10] = position.value.y;
    localMatrix.m[11] = position.value.z;
}

void Object3D::update(float time)
{
    position.update(time);
    scale.update(time);
    rotation.update(time);
    updateLocalMatrix();
}

Matrix Object3D::worldMatrix() const
{
    if (!parent)
        return localMatrix;
    return multiply(parent->worldMatrix(), localMatrix);
}

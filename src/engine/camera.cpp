#include "engine/camera.hpp"

#include <cmath>
#include <numbers>

Camera::Camera()
{
    position.value = Vector3(0.0f, 0.0f, -100.0f);
    target.value = Vector3::zero;
    fov.value = 1.5707964f;
    viewMatrix = Matrix::identity();
    cullScaleX = cullScaleY = 1.0f;
    setScreenSize(640, 480);
}

void Camera::setViewport(float cx, float cy, float sx, float sy)
{
    centerX = cx;
    centerY = cy;
    scaleX = sx;
    scaleY = sy;
    aspect = sx / sy;
}

void Camera::setScreenSize(int width, int height)
{
    setViewport(static_cast<float>(width * 0.5), static_cast<float>(height * 0.5),
                static_cast<float>(width * 0.5), static_cast<float>(height * 0.5));
}

void Camera::updateView()
{
    const Vector3 eye = position.value;
    const Vector3 d = (target.value - eye).normalised();
    const Vector3 r = worldUp.cross(d).normalised();
    const Vector3 u = d.cross(r).normalised();
    const Matrix cameraToWorld(r.x, r.y, r.z, u.x, u.y, u.z, d.x, d.y, d.z, eye.x, eye.y, eye.z);

    // The swing rotations turn about axes through the world origin.
    const Matrix pitchTurn = Matrix::fromAxisAngle(r.x, r.y, r.z, pitch.value);
    const Matrix yawTurn = Matrix::fromAxisAngle(u.x, u.y, u.z, yaw.value);
    const Matrix rollTurn = Matrix::fromAxisAngle(d.x, d.y, d.z, roll.value);
    Matrix view = multiply(multiply(multiply(yawTurn, rollTurn), pitchTurn), cameraToWorld);
    view.invertRigid();

    const float f = static_cast<float>(std::tan((std::numbers::pi - static_cast<double>(fov.value)) * 0.5));
    viewMatrix = multiply(Matrix::scaling(f, static_cast<float>(static_cast<double>(f) * aspect), 1.0f), view);
    cullScaleX = static_cast<float>(1.0 / (static_cast<double>(f) * f));
    cullScaleY = static_cast<float>(cullScaleX / (static_cast<double>(aspect) * aspect));
}

Matrix Camera::viewDirectionsToWorld() const
{
    Matrix toWorld = viewMatrix;
    toWorld.m[9] = toWorld.m[10] = toWorld.m[11] = 0.0f;
    toWorld.invertRigid();
    return toWorld;
}

Vector3 Camera::project(float x, float y, float z) const
{
    const double w = 1.0 / static_cast<double>(z);
    return Vector3(static_cast<float>(centerX + scaleX * x * w), static_cast<float>(centerY - scaleY * y * w),
                   static_cast<float>(w));
}

// The eight scenes of the show, in timeline order, and their preparations.
// A preparation builds everything its scene needs before the music starts;
// a scene draws one frame.
#pragma once

#include "image/image.hpp"

// The scene call: frame, demoTime, sceneTime, progress, frameTime, variant.
using SceneFunc = void (*)(Image& frame, float demoTime, float sceneTime, float progress,
                           float frameTime, int variant);

void scene1(Image& frame, float demoTime, float sceneTime, float progress, float frameTime, int variant);
void scene2(Image& frame, float demoTime, float sceneTime, float progress, float frameTime, int variant);
void scene3(Image& frame, float demoTime, float sceneTime, float progress, float frameTime, int variant);
void scene4(Image& frame, float demoTime, float sceneTime, float progress, float frameTime, int variant);
void scene5(Image& frame, float demoTime, float sceneTime, float progress, float frameTime, int variant);
void scene6(Image& frame, float demoTime, float sceneTime, float progress, float frameTime, int variant);
void scene7(Image& frame, float demoTime, float sceneTime, float progress, float frameTime, int variant);
void scene8(Image& frame, float demoTime, float sceneTime, float progress, float frameTime, int variant);

void prepareScene1();
void prepareScene2();
void prepareScene3();
void prepareScene4();
void prepareScene5();
void prepareScene6();
void prepareScene7();
void prepareScene8();

#include "scenes/scenes.hpp"

void prepareScene1()
{
}

void scene1(Image&, float, float, float, float, int)
{
}

#include "scenes/scenes.hpp"

void prepareScene2()
{
}

void scene2(Image&, float, float, float, float, int)
{
}

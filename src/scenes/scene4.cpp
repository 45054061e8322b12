#include "scenes/scenes.hpp"

void prepareScene4()
{
}

void scene4(Image&, float, float, float, float, int)
{
}

#include "scenes/scenes.hpp"

void prepareScene8()
{
}

void scene8(Image&, float, float, float, float, int)
{
}

#include "scenes/scenes.hpp"

void prepareScene3()
{
}

void scene3(Image&, float, float, float, float, int)
{
}

#include "scenes/scenes.hpp"

void prepareScene5()
{
}

void scene5(Image&, float, float, float, float, int)
{
}

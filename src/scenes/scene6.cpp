#include "scenes/scenes.hpp"

void prepareScene6()
{
}

void scene6(Image&, float, float, float, float, int)
{
}

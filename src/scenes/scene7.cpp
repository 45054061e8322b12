#include "scenes/scenes.hpp"

void prepareScene7()
{
}

void scene7(Image&, float, float, float, float, int)
{
}

#include "scenes/shared.hpp"

Image frame(frameWidth, frameHeight);
Font font;
Image titleImage;

#include "driver/globals.hpp"

Image frame(frameWidth, frameHeight);
Font font;
Image titleImage;

// Writes an image as an 8-bit RGB PNG file.
#pragma once

#include "image/image.hpp"

#include <string>

// Returns false and sets error (with the reason) when the file cannot be written.
bool writePng(const std::string& path, const Image& image, std::string& error);

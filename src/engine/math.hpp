// The engine's linear-algebra kit in one include.
#pragma once

#include "engine/matrix.hpp"
#include "engine/quaternion.hpp"
#include "engine/vector.hpp"

#pragma once

// The settings file is shared by both front ends; its code lives with the platform.
#include "platform/settings_line.h"

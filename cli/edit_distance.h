// The distance behind the frame's "did you mean" hints: the plug-in's own
// (text/), so a subcommand and a setting are matched alike.
#pragma once

#include "text/edit_distance.h"

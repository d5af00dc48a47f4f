#pragma once

#include <cstdint>

#include "text/text.h"

Text replaceAll(const char* source, const char* token, const char* replacement);

#pragma once

#include <cstdint>

#include "text/text.h"

int32_t findToken(const char* string, const char* token);
Text replaceAll(const char* source, const char* token, const char* replacement);

// Date and time texts of the freq listing: D.MM.YYYY and H:MM:SS.
#pragma once

#include <ctime>

#include "text/text.h"

Text dateText(const std::tm* t);
Text timeText(const std::tm* t);

// Date and time texts: those of the freq listing, D.MM.YYYY and H:MM:SS, and
// the fixed-width stamps of the audit log and of dated file names.
#pragma once

#include <ctime>
#include <string>

#include "text/text.h"

Text dateText(const std::tm* t);
Text timeText(const std::tm* t);

// A broken-down time in strftime's format (%Y, %m, %d, %H, %M, %S and
// literal text only, short of 64 bytes).
std::string stampText(const std::tm& t, const char* format);

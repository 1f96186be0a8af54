#pragma once
// Stamping a version into a text.
#include <string>

// `Text` with every "$V$" replaced by `Version`. The marker matches without regard to ASCII
// case ("$v$" too); the search runs left to right and resumes behind each match, so inserted
// text is never searched again. Any failure returns `Text` unchanged.
std::string StampVersion(const std::string& Text, const std::string& Version);

#pragma once

// Reads a decimal integer the way the C library's conversion does (leading white space, an
// optional sign, digits up to the first other character; 0 without digits), but a value
// beyond the 32-bit range saturates at INT_MIN or INT_MAX instead of being undefined.
int parseDecimal(const char* text);

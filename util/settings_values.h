// Decoders of the settings file's values, free of platform calls so that they build natively
// and can be fuzzed there; app/settings.* reads the text and calls them.
#pragma once

#include <cstdint>

// "true", "y", "yes" in any case, or exactly "1".
bool decodeSettingsBool(const char* text);

// "r,g,b": three "%d" numbers, each keeping its low 8 bits, into 0x00BBGGRR (the layout of a
// Windows COLORREF). Anything else (fewer numbers, another separator) gives `fallback`.
uint32_t decodeSettingsColour(const char* text, uint32_t fallback);

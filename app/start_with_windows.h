#pragma once

// The program's entry under the current user's Run key, which the shell starts at log-on.
// The installer writes the same value name, so either can see and undo the other's choice.
inline constexpr char runKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char runValueName[] = "pellwick";

// True while the Run key holds the value.
bool startsWithWindows();
// Writes this executable's quoted path under the value, or removes the value; false when the
// registry refused.
bool setStartWithWindows(bool start);

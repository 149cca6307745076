#pragma once

#include "util/holders/win32_holders.h"

// One copy of the program per user session: a second copy would add a second tray icon and
// run a second checker that overwrites the first one's seen-message file.
class SingleInstance {
public:
    static const int mutexNameSize = 320; // the prefix and a user name of up to 256

    // True when this process now holds the session's instance mutex; false when another
    // process holds it already. Held until the object dies.
    bool acquire();

private:
    OwnedHandle mutex;
};

// "Local\pellwick-<user>": the session namespace, one name per user.
void buildInstanceMutexName(char* name, int size);

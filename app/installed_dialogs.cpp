#include "app/app_dialogs.h"

// The configuration and About dialogs (dialogs/) are linked in here: set `configure` and
// `about` to functions that build and run them. Until they are, the program runs without
// them (see app_dialogs.h).
AppDialogs installedDialogs()
{
    AppDialogs dialogs;
    return dialogs;
}

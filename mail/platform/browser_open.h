#pragma once

// Opens `url` in the user's default browser; false when nothing could be started.
bool openInBrowser(const char* url);

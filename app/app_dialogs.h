#pragma once

class NotifierApp;

// The modal dialogs the application runs. A null entry means this build has no such dialog:
// Configure then does nothing, and a first start without an account goes on unconfigured.
struct AppDialogs {
    // Runs the configuration dialog for `app` without an owner window. True when the user
    // confirmed it; the dialog has then stored the new values in app.checker (setAccount),
    // app.changeColour, app.newMailColour and the settings file.
    bool (*configure)(NotifierApp& app) = nullptr;
    // Runs the About dialog without an owner window.
    void (*about)() = nullptr;
};

// The dialogs of this build, in installed_dialogs.cpp.
AppDialogs installedDialogs();

// Runs the real pellwick.exe as a user would meet it: its settings file in %APPDATA%, a
// trust file in its working folder, and messages posted to its window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/app/screen_capture.h"

namespace apptest {

// The test build of the program (not the one released) points its sign-ins at the
// authorization server named here: "AUTHORIZE_URL TOKEN_URL [ISSUER]".
inline constexpr char signInEndpointsVariable[] = "PELLWICK_SIGN_IN_ENDPOINTS";

// The program's files in this prefix's %APPDATA%\pellwick.
class ProgramFiles {
public:
    ProgramFiles();
    const std::string& folder() const { return base; }
    std::string iniPath() const { return base + "\\pellwick.ini"; }
    // The seen-message file of the first account, or of the account `id`.
    std::string seenPath(const std::string& id = "") const
    {
        return base + "\\pellwick" + (id.empty() ? "" : "-" + id) + ".uidl";
    }
    // Replaces the settings file with these lines and removes every seen-message file.
    bool startFresh(const std::vector<std::string>& iniLines);
    std::string readValue(const char* section, const char* key) const;
    // The seen-message file's lines; empty when it is missing.
    std::vector<std::string> seenIds(const std::string& id = "") const;

private:
    std::string base;
};

class ProgramDriver {
public:
    static const int startMs = 15000;
    static const int exitMs = 15000;

    ~ProgramDriver();

    // Starts pellwick.exe (the one built beside the tests, or `program`) with `workFolder` as
    // its working folder (empty: the test's own); both paths UTF-8.
    bool start(const std::string& workFolder);
    bool start(const std::string& workFolder, const std::string& program);
    // The program's floating window, once it exists (bounded wait); null otherwise.
    HWND waitForWindow(int timeoutMs = startMs);
    HWND window() const { return hwnd; }
    DWORD processId() const { return process.dwProcessId; }
    bool running() const;

    // The status in words, read with WM_GETTEXT as screen readers read it.
    std::string statusText() const;
    // Polls the status until it says what the window paints as `expected`; false after timeoutMs.
    bool waitForStatus(const std::string& expected, int timeoutMs);
    RECT windowRect() const;

    void post(UINT message, WPARAM wParam, LPARAM lParam) const;
    void command(int id) const { post(WM_COMMAND, static_cast<WPARAM>(id), 0); }
    // Waits until the window has handled every message posted before.
    void sync() const;

    // Exit from the menu; true when the process ended within exitMs, with the code in exitCode.
    bool exitFromMenu(DWORD& exitCode);
    // Waits for the process to end by itself.
    bool waitForEnd(int timeoutMs, DWORD& exitCode);
    // TerminateProcess of the started process, as a crash or a kill would end it.
    void kill();

    // The floating window's pixels (inside its border) and the notification area's.
    bool captureWindow(ScreenImage& image) const;
    bool captureTray(ScreenImage& image) const;
    // The notification area, in screen coordinates.
    RECT trayArea() const;
    // Saves the whole screen to the artefacts folder as <name>.png.
    bool saveScreenshot(const std::string& name) const;

private:
    void closeHandles();

    PROCESS_INFORMATION process = {};
    HWND hwnd = nullptr;
};

// Z:\... path of the program built beside the tests.
std::string programPath();
// A folder of its own holding cacert.pem (a copy of caFile, when given).
bool makeWorkFolder(const std::string& folder, const std::string& caFile);

} // namespace apptest

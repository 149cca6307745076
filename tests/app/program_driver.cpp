#include "tests/app/program_driver.h"

#include <shlobj.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/status_text.h"
#include "res/resource.h"
#include "tests/support/dovecot_fixture.h"
#include "tests/support/poll_until.h"

namespace apptest {

namespace {

const int pollMs = 50;
const int textSize = 1024; // a protected password runs to a few hundred characters
const int replyMs = 5000;

// What the window says for a status it paints as "unseen / total"; other texts it says as
// they are painted.
std::string inWords(const std::string& painted)
{
    CheckSnapshot shown;
    char after = 0;
    if (sscanf(painted.c_str(), "%d / %d%c", &shown.unseenCount, &shown.totalCount, &after) != 2)
        return painted;
    char words[spokenTextSize];
    formatSpokenStatus(shown, words, spokenTextSize);
    return words;
}

} // namespace

std::string programPath()
{
    return testbench::unixPathForPlatform(PELLWICK_PROGRAM_PATH);
}

bool makeWorkFolder(const std::string& folder, const std::string& caFile)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    if (caFile.empty())
        return GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
    return CopyFileA(caFile.c_str(), (folder + "\\cacert.pem").c_str(), FALSE) != FALSE;
}

ProgramFiles::ProgramFiles()
{
    char appData[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, TRUE);
    base = std::string(appData) + "\\pellwick";
    CreateDirectoryA(base.c_str(), nullptr);
}

bool ProgramFiles::startFresh(const std::vector<std::string>& iniLines)
{
    DeleteFileA(seenPath().c_str());
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(seenPath("*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        DeleteFileA((base + "\\" + found.cFileName).c_str());
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    std::ofstream ini(iniPath(), std::ios::binary | std::ios::trunc);
    for (const std::string& line : iniLines)
        ini << line << "\r\n";
    return static_cast<bool>(ini);
}

std::string ProgramFiles::readValue(const char* section, const char* key) const
{
    char value[textSize] = "";
    GetPrivateProfileStringA(section, key, "<absent>", value, textSize, iniPath().c_str());
    return value;
}

std::vector<std::string> ProgramFiles::seenIds(const std::string& id) const
{
    std::vector<std::string> ids;
    std::ifstream file(seenPath(id), std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            ids.push_back(line);
    }
    return ids;
}

ProgramDriver::~ProgramDriver()
{
    // A test that failed half-way must not leave its program on the shared desktop.
    if (running()) {
        DWORD code = 0;
        if (!exitFromMenu(code))
            kill();
    }
    closeHandles();
}

void ProgramDriver::closeHandles()
{
    if (process.hThread)
        CloseHandle(process.hThread);
    if (process.hProcess)
        CloseHandle(process.hProcess);
    process = {};
    hwnd = nullptr;
}

bool ProgramDriver::start(const std::string& workFolder)
{
    return start(workFolder, programPath());
}

bool ProgramDriver::start(const std::string& workFolder, const std::string& path)
{
    closeHandles();
    // UTF-8, so that a folder named outside the ANSI code page can be given.
    std::wstring program = std::filesystem::u8path(path).wstring();
    std::wstring folder = std::filesystem::u8path(workFolder).wstring();
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    return CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          workFolder.empty() ? nullptr : folder.c_str(), &startup, &process) != FALSE;
}

bool ProgramDriver::running() const
{
    return process.hProcess && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
}

HWND ProgramDriver::waitForWindow(int timeoutMs)
{
    HWND own = nullptr;
    testbench::pollUntil(
        [&] {
            for (HWND found = FindWindowExA(nullptr, nullptr, "pellwick", "pellwick"); found;
                 found = FindWindowExA(nullptr, found, "pellwick", "pellwick")) {
                DWORD owner = 0;
                GetWindowThreadProcessId(found, &owner);
                if (owner == process.dwProcessId)
                    own = found;
            }
            return own != nullptr || !running();
        },
        timeoutMs, pollMs);
    return own ? hwnd = own : nullptr;
}

std::string ProgramDriver::statusText() const
{
    char text[textSize] = "";
    DWORD_PTR copied = 0;
    if (!hwnd || !SendMessageTimeoutA(hwnd, WM_GETTEXT, textSize, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                                      replyMs, &copied))
        return "<no reply>";
    return text;
}

bool ProgramDriver::waitForStatus(const std::string& expected, int timeoutMs)
{
    std::string said = inWords(expected);
    return testbench::pollUntil([&] { return statusText() == said; }, timeoutMs, pollMs);
}

RECT ProgramDriver::windowRect() const
{
    RECT frame = {};
    GetWindowRect(hwnd, &frame);
    return frame;
}

void ProgramDriver::post(UINT message, WPARAM wParam, LPARAM lParam) const
{
    PostMessageA(hwnd, message, wParam, lParam);
}

void ProgramDriver::sync() const
{
    // A sent message is handled after everything posted before it has been.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, replyMs, &ignored);
    Sleep(pollMs);
    SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, replyMs, &ignored);
}

bool ProgramDriver::exitFromMenu(DWORD& exitCode)
{
    command(ID_EXIT);
    return waitForEnd(exitMs, exitCode);
}

bool ProgramDriver::waitForEnd(int timeoutMs, DWORD& exitCode)
{
    if (!process.hProcess || WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
        return false;
    exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    return true;
}

void ProgramDriver::kill()
{
    if (!process.hProcess)
        return;
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, exitMs);
}

bool ProgramDriver::captureWindow(ScreenImage& image) const
{
    RECT frame = windowRect();
    // The one-pixel border is not the window's colour.
    InflateRect(&frame, -1, -1);
    return image.capture(frame);
}

bool ProgramDriver::captureTray(ScreenImage& image) const
{
    return image.capture(trayArea());
}

RECT ProgramDriver::trayArea() const
{
    HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    RECT area = {};
    if (taskbar)
        GetWindowRect(taskbar, &area);
    else
        area = {0, GetSystemMetrics(SM_CYSCREEN) - 40, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    // The notification area is the taskbar's right end.
    const int notificationWidth = 160;
    if (area.right - area.left > notificationWidth)
        area.left = area.right - notificationWidth;
    return area;
}

bool ProgramDriver::saveScreenshot(const std::string& name) const
{
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    ScreenImage image;
    return image.capture(screen) && image.savePng(artifactsFolder() + name + ".png");
}

} // namespace apptest

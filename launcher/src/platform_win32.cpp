// The platform layer on Windows: the guard is a named mutex of the logon session, the window
// search walks the top-level windows, the box is MessageBoxW.
#include "launcher.hpp"
#include "platform.hpp"

#include <windows.h>
#include <shellapi.h>
#include <wchar.h>

namespace z47::platform {
namespace {

// Held, never closed, by the first instance: the mutex goes away with the process.
HANDLE instance_mutex = nullptr;

// A UTF-8 text as UTF-16 in a buffer of `size` characters, always terminated.
template <std::size_t size>
void to_utf16(const char* text, wchar_t (&buffer)[size])
{
    buffer[0] = L'\0';
    if (MultiByteToWideChar(CP_UTF8, 0, text, -1, buffer, static_cast<int>(size)) == 0)
        buffer[0] = L'\0';
    buffer[size - 1] = L'\0';
}

std::wstring to_utf16(const char* text)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

struct WindowSearch {
    wchar_t titles[2][255];
    std::size_t count;
};

bool title_matches(const wchar_t* title, const WindowSearch& search)
{
    for (std::size_t i = 0; i < search.count; ++i)
        if (search.titles[i][0] != L'\0' && wcsstr(title, search.titles[i]) != nullptr)
            return true;
    return false;
}

// Called for each top-level window in the system's order; returns FALSE to stop the walk
// once one window has been brought forward.
BOOL CALLBACK visit_window(HWND window, LPARAM parameter)
{
    const auto& search = *reinterpret_cast<const WindowSearch*>(parameter);
    wchar_t title[512];
    int length = GetWindowTextW(window, title, 512);
    if (length <= 0 || !title_matches(title, search))
        return TRUE;
    ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window);
    BringWindowToTop(window);
    return FALSE;
}

}  // namespace

native_string command_line()
{
    const wchar_t* line = GetCommandLineW();
    return line ? line : L"";
}

std::optional<std::vector<std::wstring>> command_line_words()
{
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr)
        return std::nullopt;
    std::vector<std::wstring> result(words, words + count);
    LocalFree(words);
    return result;
}

Guard take_instance_guard(const native_char* name)
{
    instance_mutex = CreateMutexW(nullptr, TRUE, name);
    if (instance_mutex == nullptr)
        return Guard::unguarded;
    return GetLastError() == ERROR_ALREADY_EXISTS ? Guard::already_running
                                                  : Guard::first_instance;
}

void release_instance_guard()
{
    if (instance_mutex != nullptr)
        CloseHandle(instance_mutex);
    instance_mutex = nullptr;
}

void raise_window_titled(const std::vector<const char*>& titles)
{
    WindowSearch search{};
    for (const char* title : titles) {
        if (search.count == std::size(search.titles))
            break;
        to_utf16(title, search.titles[search.count++]);
    }
    EnumWindows(visit_window, reinterpret_cast<LPARAM>(&search));
}

native_string program_path()
{
    // A deep install folder gives a path longer than MAX_PATH; the system cuts the path to the
    // buffer and says so only through the length, so grow the buffer until it fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768)  // the longest path the system has
            return std::wstring();
        path.resize(path.size() * 2);
    }
}

std::optional<native_string> runtime_executable(const native_string& dir)
{
    std::wstring path = dir + L"\\pythonw.exe";
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return path;
}

std::wstring to_runtime_text(const native_string& text)
{
    return text;
}

std::optional<native_string> environment(const native_char* name)
{
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return std::nullopt;
    std::wstring value(size, L'\0');
    DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    if (length == 0 || length >= size)
        return std::nullopt;
    value.resize(length);
    return value;
}

void set_current_directory(const native_string& dir)
{
    SetCurrentDirectoryW(dir.c_str());
}

void set_dll_directory(const native_string& dir)
{
    SetDllDirectoryW(dir.c_str());
}

void add_private_fonts(const native_string& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.ttf").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;  // no such folder, or no font in it
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            AddFontResourceExW((folder + L"\\" + found.cFileName).c_str(), FR_PRIVATE, nullptr);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// The process's own environment block, which every C runtime in the process reads its copy
// from and which the programs the centre starts inherit.  (The runtime itself gets the value
// through its configuration as well: its C runtime may have copied the block already.)
void set_environment(const native_char* name, const native_string& value)
{
    SetEnvironmentVariableW(name, value.c_str());
}

void show_error_box(const char* caption, const char* text)
{
    MessageBoxW(nullptr, to_utf16(text).c_str(), to_utf16(caption).c_str(), MB_OK | MB_ICONERROR);
}

bool write_file(const native_string& dir, const native_char* name, const std::string& text)
{
    // Each missing folder of the path in turn, from the top; existing ones are no error.
    for (std::size_t at = dir.find(L'\\', 3); ; at = dir.find(L'\\', at + 1)) {
        std::wstring part = dir.substr(0, at);
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
            at == std::wstring::npos)
            return false;
        if (at == std::wstring::npos)
            break;
    }
    std::wstring path = dir + L"\\" + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

}  // namespace z47::platform

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return z47::launcher::run();
}

// The worker's system calls on Windows.  The centre runs no install or removal script there
// (the worker skips every script before it would start one), so only the existence test does
// real work; starting bash is refused should anything ever ask for it.
#include "process.hpp"

#include <windows.h>

#include <cerrno>

namespace z47::process {
namespace {

// The path as UTF-16; Python hands file names to us as UTF-8 on Windows.  Empty when the
// bytes are not UTF-8 (no such file can exist then).
std::wstring wide(const std::string& path)
{
    if (path.empty())
        return std::wstring();
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                                     static_cast<int>(path.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                        text.data(), length);
    return text;
}

}  // namespace

int probe(const std::string& path)
{
    if (path.find('\0') != std::string::npos)
        return -1;
    std::wstring name = wide(path);
    if (name.empty())
        return -1;
    if (GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES)
        return 0;
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_DIRECTORY:
        return -1;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    default:
        return EIO;
    }
}

Start start_bash(const std::string&)
{
    return {-1, ENOSYS};
}

Ending wait_for(pid_t, std::chrono::steady_clock::time_point, std::chrono::milliseconds)
{
    return {Ending::exited, 0};  // never reached: nothing was started
}

}  // namespace z47::process

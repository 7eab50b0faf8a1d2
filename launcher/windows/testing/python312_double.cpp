// A test double of python312.dll: the embedding functions the launcher imports, steered
// by environment variables and writing down every call, so that tests under wine can follow
// the real launcher's control flow without a Windows Python.
//
//   Z47_DOUBLE_RECORD       file that receives one UTF-8 line per call (appended)
//   Z47_DOUBLE_START        "error", "exit" or "not-initialised": how the runtime start ends
//   Z47_DOUBLE_REFUSE       "executable", "pythonpath_env" or "argv": that configuration value
//                           cannot be set (the runtime's answer when it runs out of memory)
//   Z47_DOUBLE_WINDOW       while "running the script", show a top-level window with this
//                           title and return when it is closed
//   Z47_DOUBLE_SCRIPT_FILE  file that receives the script text the launcher hands over
//   Z47_DOUBLE_SCRIPT       "raise": the script lets an exception escape (result -1)
//   Z47_DOUBLE_EXIT_CODE    a number, "missing" (no sys._z47_exit_code) or "not-a-long"
#include "py312_types.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#define EXPORT extern "C" __declspec(dllexport)

struct _object {
    int unused;
};

namespace {

_object exit_code_object;
_object overflow_error;
bool initialised = false;
bool error_pending = false;

std::wstring env(const wchar_t* name)
{
    wchar_t value[4096];
    DWORD length = GetEnvironmentVariableW(name, value, 4096);
    return length > 0 && length < 4096 ? std::wstring(value, length) : std::wstring();
}

std::string utf8(const std::wstring& text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(),
                        length, nullptr, nullptr);
    return bytes;
}

void write_file(const std::wstring& path, const std::string& bytes, bool append)
{
    if (path.empty())
        return;
    HANDLE file = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void record(const std::string& line)
{
    write_file(env(L"Z47_DOUBLE_RECORD"), line + "\n", true);
}

PyStatus status(int type, const char* message, const char* func = "Py_InitializeFromConfig")
{
    PyStatus result{};
    result._type = static_cast<decltype(result._type)>(type);
    result.func = func;
    result.err_msg = message;
    return result;
}

// An error status for a configuration value the test refuses, else success.
PyStatus configured(const char* value, const char* func)
{
    if (utf8(env(L"Z47_DOUBLE_REFUSE")) == value)
        return status(1, "test double: memory allocation failed", func);
    return status(0, nullptr);
}

int parse_argv_of(const PyConfig* config)
{
    int value = 0;
    std::memcpy(&value, config->storage + Z47_PYCONFIG_PARSE_ARGV_OFFSET, sizeof value);
    return value;
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// Shows a plain top-level window and runs its message loop until it is closed.
void show_window_until_closed(const std::wstring& title)
{
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"Z47TestDoubleWindow";
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                                  40, 40, 480, 320, nullptr, nullptr, window_class.hInstance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    record("window shown");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    record("window closed");
}

}  // namespace

EXPORT void PyConfig_InitPythonConfig(PyConfig* config)
{
    record("PyConfig_InitPythonConfig");
    std::memset(config->storage, 0xA5, sizeof config->storage);
    int preset = 1;  // the Python preset reads the command line as interpreter options
    std::memcpy(config->storage + Z47_PYCONFIG_PARSE_ARGV_OFFSET, &preset, sizeof preset);
}

EXPORT PyStatus PyConfig_SetString(PyConfig* config, wchar_t** field, const wchar_t* text)
{
    auto at = reinterpret_cast<unsigned char*>(field) - config->storage;
    const char* name = at == Z47_PYCONFIG_EXECUTABLE_OFFSET       ? "executable"
                       : at == Z47_PYCONFIG_PYTHONPATH_ENV_OFFSET ? "pythonpath_env"
                                                                  : "unknown";
    record(std::string("PyConfig_SetString ") + name + " " + utf8(text));
    return configured(name, "PyConfig_SetString");
}

EXPORT PyStatus PyConfig_SetArgv(PyConfig*, Py_ssize_t argc, wchar_t* const* argv)
{
    record("PyConfig_SetArgv " + std::to_string(argc));
    for (Py_ssize_t i = 0; i < argc; ++i)
        record("argv " + utf8(argv[i]));
    return configured("argv", "PyConfig_SetArgv");
}

EXPORT PyStatus Py_InitializeFromConfig(const PyConfig* config)
{
    record("Py_InitializeFromConfig parse_argv=" + std::to_string(parse_argv_of(config)));
    wchar_t dir[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, dir);
    record("cwd " + utf8(dir));
    dir[0] = L'\0';
    GetDllDirectoryW(MAX_PATH, dir);
    record("dll_directory " + utf8(dir));
    record("PYTHONPATH " + utf8(env(L"PYTHONPATH")));

    std::wstring start = env(L"Z47_DOUBLE_START");
    if (start == L"error")
        return status(1, "test double: start refused");
    if (start == L"exit")
        return status(2, nullptr);
    initialised = start != L"not-initialised";
    return status(0, nullptr);
}

EXPORT void PyConfig_Clear(PyConfig*)
{
    record("PyConfig_Clear");
}

EXPORT int PyStatus_Exception(PyStatus status)
{
    record("PyStatus_Exception");
    return status._type != PyStatus::_PyStatus_TYPE_OK;
}

EXPORT int Py_IsInitialized(void)
{
    record("Py_IsInitialized");
    return initialised;
}

EXPORT int PyRun_SimpleStringFlags(const char* command, PyCompilerFlags* flags)
{
    record(std::string("PyRun_SimpleStringFlags flags=") + (flags ? "set" : "none"));
    write_file(env(L"Z47_DOUBLE_SCRIPT_FILE"), command, false);
    std::wstring title = env(L"Z47_DOUBLE_WINDOW");
    if (!title.empty())
        show_window_until_closed(title);
    return env(L"Z47_DOUBLE_SCRIPT") == L"raise" ? -1 : 0;
}

EXPORT PyObject* PySys_GetObject(const char* name)
{
    record(std::string("PySys_GetObject ") + name);
    return env(L"Z47_DOUBLE_EXIT_CODE") == L"missing" ? nullptr : &exit_code_object;
}

EXPORT long PyLong_AsLong(PyObject* object)
{
    record("PyLong_AsLong");
    std::wstring code = env(L"Z47_DOUBLE_EXIT_CODE");
    if (object != &exit_code_object || code == L"not-a-long") {
        error_pending = true;
        return -1;
    }
    return std::wcstol(code.c_str(), nullptr, 10);
}

EXPORT PyObject* PyErr_Occurred(void)
{
    record("PyErr_Occurred");
    return error_pending ? &overflow_error : nullptr;
}

EXPORT void PyErr_Clear(void)
{
    record("PyErr_Clear");
    error_pending = false;
}

EXPORT int Py_FinalizeEx(void)
{
    record(std::string("Py_FinalizeEx") + (error_pending ? " error-pending" : ""));
    initialised = false;
    return 0;
}

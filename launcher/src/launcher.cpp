// The launcher's start-up, the same on every platform:
//
//   1. a command line without a guard flag runs the single-instance guard;
//   2. a second start brings the running instance's window forward and ends with 0;
//   3. the launcher's own directory becomes the working directory, the DLL directory and
//      PYTHONPATH (an inherited PYTHONPATH is replaced, not extended), and the fonts the
//      package ships in its fonts folder are made available to the process;
//   4. the embedded runtime starts with the command line as sys.argv, read as plain words,
//      and with a real interpreter program as sys.executable; when it cannot be configured
//      so or cannot start, its reason goes to the start-up log and a box tells the user;
//   5. the bootstrap script runs and leaves the exit code in sys._z47_exit_code;
//   6. the runtime shuts down and the process ends with that code.
//
// Platform calls go through platform.hpp; the runtime is reached through python_embed.hpp.
#include "launcher.hpp"

#include "bootstrap_script.hpp"
#include "platform.hpp"
#include "python_embed.hpp"
#include "texts.hpp"

#include <optional>
#include <string>
#include <vector>

namespace z47::launcher {
namespace {

using platform::native_string;

bool has_guard_flag(const native_string& command_line)
{
    for (const platform::native_char* flag : texts::guard_flags)
        if (command_line.find(flag) != native_string::npos)
            return true;
    return false;
}

// True when this start must give way to an instance that is already running.
bool refused_by_guard()
{
    native_string line = platform::command_line();
    if (!line.empty() && has_guard_flag(line))
        return false;
    return platform::take_instance_guard(texts::instance_guard_name) ==
           platform::Guard::already_running;
}

void raise_running_instance()
{
    platform::raise_window_titled({texts::package_title, texts::centre_title});
    platform::release_instance_guard();
}

// The program's own path cut at its last separator; a path without one stays whole.
native_string own_directory()
{
    native_string dir = platform::program_path();
    std::size_t cut = dir.rfind(platform::dir_separator);
    if (cut != native_string::npos)
        dir.resize(cut);
    return dir;
}

void enter_own_directory(const native_string& dir)
{
    platform::set_current_directory(dir);
    platform::set_dll_directory(dir);
    platform::set_environment(texts::search_path_variable, dir);
    // The window's font, shipped with the package: a stock Windows machine does not have it.
    platform::add_private_fonts(dir + platform::dir_separator + texts::fonts_folder);
}

// Why the runtime did not start, as it reports it: the function and its message, or the code
// of an exit it asked for.
std::string status_reason(const PyStatus& status)
{
    std::string reason = status.func ? std::string(status.func) + ": " : std::string();
    if (status._type == PyStatus::_PyStatus_TYPE_EXIT)
        return reason + texts::runtime_exit_request + std::to_string(status.exitcode);
    return reason + (status.err_msg ? status.err_msg : texts::runtime_no_message);
}

// Sets a text field of the configuration; the runtime's reason when it cannot.
std::optional<std::string> set_config_text(PyConfig* config, wchar_t** field, const native_string& value)
{
    std::wstring text = platform::to_runtime_text(value);
    PyStatus status = PyConfig_SetString(config, field, text.c_str());
    if (PyStatus_Exception(status))
        return status_reason(status);
    return std::nullopt;
}

// Fills in the configuration; the runtime's reason when a value cannot be set.  A value left
// out would not make a smaller start but a wrong one: without `executable` the centre would
// start a tool's app.py with the launcher itself, which meets its own guard and ends.
std::optional<std::string> configure(PyConfig* config, const native_string& dir)
{
    z47_set_parse_argv(config, 0);  // the words are sys.argv, never interpreter options
    // The runtime reads PYTHONPATH from its own C runtime's copy of the environment, which on
    // Windows need not be the one the launcher wrote to: hand it over in the configuration.
    if (std::optional<std::string> failure = set_config_text(config, z47_config_pythonpath_env(config), dir))
        return failure;
    // sys.executable is what the centre starts a tool's app.py with; the launcher itself would
    // meet its own single-instance guard and end without running anything.
    if (std::optional<native_string> executable = platform::runtime_executable(dir))
        if (std::optional<std::string> failure = set_config_text(config, z47_config_executable(config), *executable))
            return failure;
    // When the command line cannot be split the runtime keeps its default sys.argv.
    std::optional<std::vector<std::wstring>> words = platform::command_line_words();
    if (words && !words->empty()) {
        std::vector<wchar_t*> argv;
        for (std::wstring& word : *words)
            argv.push_back(word.data());
        PyStatus status = PyConfig_SetArgv(config, static_cast<Py_ssize_t>(argv.size()), argv.data());
        if (PyStatus_Exception(status))
            return status_reason(status);
    }
    return std::nullopt;
}

// Starts the runtime with the Python preset and the command line as plain words.  Returns
// nothing when it is up, otherwise the runtime's reason.
std::optional<std::string> start_runtime(const native_string& dir)
{
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    std::optional<std::string> failure = configure(&config, dir);
    if (failure) {
        PyConfig_Clear(&config);
        return failure;
    }
    PyStatus status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);

    // An exit request counts as a failure too: the centre has not run.
    if (PyStatus_Exception(status))
        return status_reason(status);
    if (!Py_IsInitialized())
        return std::string(texts::runtime_not_initialised);
    return std::nullopt;
}

// The start-up log gets the runtime's reason; the box only says that the runtime did not start.
// The runtime's reason for a folder it cannot start from ("error evaluating path") does not say
// that the folder is too deep: the log then says it.
void log_runtime_failure(const native_string& dir, const std::string& reason)
{
    native_string log_dir = platform::environment(texts::log_base_variable).value_or(dir);
    log_dir += platform::dir_separator;
    log_dir += texts::log_folder;
    std::string text = std::string(texts::runtime_failure) + platform::line_end + reason + platform::line_end;
    if (dir.size() > platform::deepest_runtime_folder)
        text += texts::folder_too_deep_head + std::to_string(dir.size()) + texts::folder_too_deep_middle +
                std::to_string(platform::deepest_runtime_folder) + texts::folder_too_deep_tail + platform::line_end;
    (void)platform::write_file(log_dir, texts::log_file, text);
}

// The exit code the bootstrap script left behind: 1 when the script let an exception out,
// when it left no code, or when the code is not a long integer.
int exit_code_after(int script_result)
{
    PyObject* code = PySys_GetObject("_z47_exit_code");  // borrowed
    if (code == nullptr || script_result != 0)
        return 1;
    long value = PyLong_AsLong(code);
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return 1;
    }
    return static_cast<int>(value);
}

}  // namespace

int run()
{
    // 1-2. One instance per session; a second start only brings the first one forward.
    if (refused_by_guard()) {
        raise_running_instance();
        return 0;
    }

    // 3. Everything the centre needs lies next to the launcher.
    native_string dir = own_directory();
    enter_own_directory(dir);

    // 4. The runtime; it is not shut down when it never came up.
    if (std::optional<std::string> failure = start_runtime(dir)) {
        log_runtime_failure(dir, *failure);
        platform::show_error_box(texts::package_title, texts::runtime_failure);
        return 1;
    }

    // 5. The bootstrap script runs the centre until its window closes.
    int script_result = PyRun_SimpleStringFlags(bootstrap_script, nullptr);
    int exit_code = exit_code_after(script_result);

    // 6. The result of the shutdown changes nothing: the centre has already ended.
    (void)Py_FinalizeEx();
    return exit_code;
}

}  // namespace z47::launcher

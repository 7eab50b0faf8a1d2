// The narrow interface between the launcher's start-up steps and the system under them.
//
// platform_win32.cpp holds the real Windows calls; platform_posix.cpp is a stand-in that does
// the least the start-up needs on Linux, so that every step, the embedded runtime and the
// centre itself can run and be tested here.  The start-up steps (launcher.cpp) see only this.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace z47::platform {

// Paths, the command line and environment values in the system's own character type.
#ifdef _WIN32
using native_char = wchar_t;
#define Z47_WIDE(text) L##text
#define Z47_NATIVE(text) Z47_WIDE(text)  // expands a macro argument before widening it
inline constexpr native_char dir_separator = L'\\';
inline constexpr const char* line_end = "\r\n";
// The deepest folder the Python 3.12 runtime starts from, in UTF-16 units.  Its path set-up
// joins the program's folder with the names of the files it looks for there in a buffer of 256
// characters, "\\python312._pth" being the longest: 241 starts, 242 fails with "error
// evaluating path" (measured).
inline constexpr std::size_t deepest_runtime_folder = 256 - 15;
#else
using native_char = char;
#define Z47_NATIVE(text) text
inline constexpr native_char dir_separator = '/';
inline constexpr const char* line_end = "\n";
inline constexpr std::size_t deepest_runtime_folder = static_cast<std::size_t>(-1);  // no such limit
#endif
using native_string = std::basic_string<native_char>;

// The whole command line as the system reports it, program path included; empty when the
// system gives none.
native_string command_line();

// The command line split into words, the program as named first, ready for the runtime's
// argument list; nothing when the split fails.
std::optional<std::vector<std::wstring>> command_line_words();

enum class Guard {
    first_instance,   // the guard is ours until the process ends
    already_running,  // another instance holds it
    unguarded,        // the guard could not be made; run without it
};

// Takes the named single-instance guard of this logon session.
Guard take_instance_guard(const native_char* name);

// Lets go of what a refused start was handed by take_instance_guard.
void release_instance_guard();

// Brings forward the first top-level window whose title contains one of the texts (UTF-8):
// restored when minimised, shown otherwise.  At most one window is touched.
void raise_window_titled(const std::vector<const char*>& titles);

// The program's own path, however long.
native_string program_path();

// The interpreter program that the runtime should name as sys.executable, so that whatever the
// centre starts with it (a tool's app.py) runs in a real interpreter, not in another launcher:
// the runtime's own pythonw.exe in the launcher's directory on Windows, the interpreter the
// launcher was built against elsewhere.  Nothing when that program is not there.
std::optional<native_string> runtime_executable(const native_string& dir);

// A text in the runtime's wide form (UTF-16 on Windows; UTF-32 with undecodable bytes kept as
// U+DC80..U+DCFF elsewhere, as the runtime keeps them).
std::wstring to_runtime_text(const native_string& text);

// The value of an environment variable; nothing when it is not set.
std::optional<native_string> environment(const native_char* name);

// Results of these three are not looked at: a directory that cannot be entered shows up
// later, when the runtime or the centre cannot be found.
void set_current_directory(const native_string& dir);
void set_dll_directory(const native_string& dir);
void set_environment(const native_char* name, const native_string& value);

// Makes the fonts (*.ttf) in `folder` available to this process only, before anything draws
// text: nothing is installed on the machine and nothing remains after the process.  A font
// that cannot be added leaves the system's own fonts in its place.  Nothing to do off Windows,
// where the fonts come with the system.
void add_private_fonts(const native_string& folder);

// A modal error box with no owner window (UTF-8 texts).
void show_error_box(const char* caption, const char* text);

// Writes `text` (UTF-8) as the whole content of the file `name` in `dir`, creating `dir` and
// its parents when needed.  Best effort: false when any step fails.
bool write_file(const native_string& dir, const native_char* name, const std::string& text);

}  // namespace z47::platform

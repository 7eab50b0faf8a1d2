// The platform layer on Linux: a stand-in that does the least the start-up needs.
//
// - The guard is an exclusive lock on a per-user file, held by an open descriptor for the
//   life of the process (the descriptor is closed on exec, so tools the centre starts never
//   inherit it); the lock goes with the process, as the Windows mutex does.
// - There is no window search: a refused second start ends at once.
// - The error box is a line on standard error.
// - The program's own path comes from /proc/self/exe, the command line from
//   /proc/self/cmdline.  Words are decoded as UTF-8; bytes that are not UTF-8 are kept the
//   way the runtime keeps them in file names (U+DC80..U+DCFF).
#include "launcher.hpp"
#include "platform.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace z47::platform {
namespace {

int instance_lock = -1;

std::optional<std::string> read_command_line_bytes()
{
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!bytes.empty() && bytes.back() == '\0')
        bytes.pop_back();
    return bytes;
}

// Length of the UTF-8 sequence at text[i] and its code point; 0 when it is not valid UTF-8.
std::size_t decode_utf8(const std::string& text, std::size_t i, char32_t& cp)
{
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
                                         : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    cp = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < shortest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return length;
}

std::wstring decode_word(const std::string& bytes)
{
    std::wstring word;
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        std::size_t length = decode_utf8(bytes, i, cp);
        if (length == 0) {
            word.push_back(static_cast<wchar_t>(0xDC00 + static_cast<unsigned char>(bytes[i])));
            ++i;
        } else {
            word.push_back(static_cast<wchar_t>(cp));
            i += length;
        }
    }
    return word;
}

std::string lock_path(const native_char* name)
{
    std::string base(name);
    base = base.substr(base.rfind('\\') + 1);  // the session namespace is the runtime dir
    const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
    if (runtime_dir && *runtime_dir)
        return std::string(runtime_dir) + "/" + base + ".lock";
    return "/tmp/" + base + "-" + std::to_string(getuid()) + ".lock";
}

}  // namespace

native_string command_line()
{
    std::string bytes = read_command_line_bytes().value_or(std::string());
    for (char& c : bytes)
        if (c == '\0')
            c = ' ';
    return bytes;
}

std::optional<std::vector<std::wstring>> command_line_words()
{
    std::optional<std::string> bytes = read_command_line_bytes();
    if (!bytes)
        return std::nullopt;
    std::vector<std::wstring> words;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = bytes->find('\0', start);
        words.push_back(decode_word(bytes->substr(start, end - start)));
        if (end == std::string::npos)
            return words;
        start = end + 1;
    }
}

Guard take_instance_guard(const native_char* name)
{
    std::string path = lock_path(name);
    instance_lock = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (instance_lock < 0)
        return Guard::unguarded;
    if (flock(instance_lock, LOCK_EX | LOCK_NB) == 0)
        return Guard::first_instance;
    return errno == EWOULDBLOCK ? Guard::already_running : Guard::unguarded;
}

void release_instance_guard()
{
    if (instance_lock >= 0)
        close(instance_lock);
    instance_lock = -1;
}

void raise_window_titled(const std::vector<const char*>&) {}

native_string program_path()
{
    std::string path(4096, '\0');
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
        if (length <= 0)
            return std::string();
        if (static_cast<std::size_t>(length) < path.size()) {
            path.resize(static_cast<std::size_t>(length));
            return path;
        }
        path.resize(path.size() * 2);  // the link may be longer than PATH_MAX
    }
}

std::optional<native_string> runtime_executable(const native_string&)
{
    // The interpreter the launcher was built against (the build names it).
    if (access(Z47_RUNTIME_EXECUTABLE, X_OK) != 0)
        return std::nullopt;
    return std::string(Z47_RUNTIME_EXECUTABLE);
}

std::wstring to_runtime_text(const native_string& text)
{
    return decode_word(text);
}

std::optional<native_string> environment(const native_char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

void set_current_directory(const native_string& dir)
{
    (void)chdir(dir.c_str());
}

// The dynamic loader has no per-process DLL directory; the runtime's modules find their
// libraries through the system's own search.
void set_dll_directory(const native_string&) {}

void add_private_fonts(const native_string&) {}

void set_environment(const native_char* name, const native_string& value)
{
    setenv(name, value.c_str(), 1);
}

void show_error_box(const char* caption, const char* text)
{
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

bool write_file(const native_string& dir, const native_char* name, const std::string& text)
{
    for (std::size_t at = dir.find('/', 1); ; at = dir.find('/', at + 1)) {
        std::string part = dir.substr(0, at);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST && at == std::string::npos)
            return false;
        if (at == std::string::npos)
            break;
    }
    std::FILE* file = std::fopen((dir + "/" + name).c_str(), "wbe");
    if (file == nullptr)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace z47::platform

int main()
{
    return z47::launcher::run();
}

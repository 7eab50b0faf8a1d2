// The launcher's fixed texts and names.  UTF-8; the two texts of the launcher's own message
// spell their message part without Turkish letters, the titles keep theirs.
#pragma once

#include "platform.hpp"

// Texts the bootstrap script (a Python source text) shares with the launcher's own code; as
// macros, so that both are made from the one spelling.
#define Z47_TEXT_PACKAGE_TITLE "Z47 Masaüstü Araçları Tam Paketi"
#define Z47_TEXT_START_UP_ERROR_CAPTION Z47_TEXT_PACKAGE_TITLE " - Baslatma Hatasi"
#define Z47_TEXT_LOG_FOLDER "Tevrix"
#define Z47_TEXT_LOG_FILE "startup_error.log"

namespace z47::launcher::texts {

// The package title: caption of the runtime failure box, and the title a second start
// looks for among the open windows.
inline constexpr const char* package_title = Z47_TEXT_PACKAGE_TITLE;

// The start of the centre's own window title.  A second start also looks for it, so that
// the running centre itself is brought forward, not only a box whose caption carries the
// package title.
inline constexpr const char* centre_title = "Z47 Masaüstü Araçları 5'i 1 Arada Kurulum Merkezi";

inline constexpr const char* runtime_failure = "Python 3.12 Runtime (python312.dll) baslatilamadi.";
// The start-up log's line after the runtime's reason when the package's folder is deeper than
// the runtime starts from: "...: <length> karakter, en fazla <limit>. ...".
inline constexpr const char* folder_too_deep_head = "Paketin klasor yolu Python 3.12 icin cok uzun: ";
inline constexpr const char* folder_too_deep_middle = " karakter, en fazla ";
inline constexpr const char* folder_too_deep_tail =
    ". Paketi daha kisa yollu bir klasore (ornegin C:\\Z47) tasiyip yeniden baslatin.";

// One guard per logon session.
inline constexpr const platform::native_char* instance_guard_name =
    Z47_NATIVE("Local\\Z47_SINGLE_INSTANCE_z47-linux-sistem-paketi");

// A command line holding any of these anywhere (a case-sensitive substring test) is not
// guarded: these starts are helpers of a running centre, or tools meant to run beside it.
inline constexpr const platform::native_char* guard_flags[] = {
    Z47_NATIVE("--z47-elevated-task"),
    Z47_NATIVE("--z47-root-helper"),
    Z47_NATIVE("--service"),
    Z47_NATIVE("--install-service"),
    Z47_NATIVE("--uninstall-service"),
    Z47_NATIVE("--status"),
    Z47_NATIVE("--headless"),
    Z47_NATIVE("--self-test"),
    Z47_NATIVE("--screenshot"),
};

inline constexpr const platform::native_char* search_path_variable = Z47_NATIVE("PYTHONPATH");

// The start-up log: the same file the bootstrap script writes a failed start to.
inline constexpr const platform::native_char* log_base_variable = Z47_NATIVE("LOCALAPPDATA");
// The package's folder of fonts for the window (Roboto).
inline constexpr const platform::native_char* fonts_folder = Z47_NATIVE("fonts");
inline constexpr const platform::native_char* log_folder = Z47_NATIVE(Z47_TEXT_LOG_FOLDER);
inline constexpr const platform::native_char* log_file = Z47_NATIVE(Z47_TEXT_LOG_FILE);

// The runtime's reason when it reports none of its own.
inline constexpr const char* runtime_exit_request = "exit requested with code ";
inline constexpr const char* runtime_no_message = "no message";
inline constexpr const char* runtime_not_initialised = "Py_IsInitialized: the runtime is not initialised";

}  // namespace z47::launcher::texts

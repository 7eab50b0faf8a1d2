// Every text the centre shows a person, in one place, so they can be read against each other
// and translated together.  They are UTF-8 and must stay exactly as they are: tests compare them.
#pragma once

namespace z47::texts {

// Credits, shown after the window title and at the end of the install success messages.
inline constexpr const char* credits_line =
    "Z47 Yazılım Ekibi ve Tevrix Geliştiricileri tarafından hazırlanmıştır.";

// The module's documentation string (the credits line is inserted between these two).
inline constexpr const char* module_doc_head =
    "\n"
    "Z47 Masaüstü Araçları Tam Paketi (5'i 1 Arada) — Tek Tıkla Kurulum ve Yönetim Merkezi (PyQt5)\n"
    "Windows 10/11 (x64), Linux (Debian/Ubuntu/Pardus/Arch) ve macOS Uyumlu\n"
    "Arka Plan İş Parçacığı (QThread) ile Donmayan (Non-Blocking) Kurulum Mimarisi\n";
inline constexpr const char* module_doc_tail = "Sürüm 2.0.0\n";

inline constexpr const char* worker_doc =
    "Arayüzün donmaması için kurulum betiklerini arka planda çalıştırır.";

// Main window.
inline constexpr const char* window_title = "Z47 Masaüstü Araçları 5'i 1 Arada Kurulum Merkezi — ";
inline constexpr const char* header_title = "Z47 Masaüstü Araçları — Kurulum ve Yönetim Merkezi";
inline constexpr const char* header_subtitle =
    "Tüm masaüstü araçlarını tek ekrandan kurabilir, başlatabilir veya yönetebilirsiniz.";
inline constexpr const char* install_all_button = "Tümünü Tek Tıkla Kur";
inline constexpr const char* install_all_tooltip =
    "Paketteki 5 masaüstü aracının tamamını tek tıkla sisteminize kurar.";
inline constexpr const char* status_ready =
    "Hazır — İstediğiniz aracı tek tıkla kurabilir veya başlatabilirsiniz.";

// Program cards: button texts and the tool-tip endings that follow the tool's title.
inline constexpr const char* button_install = "Kur ve Başlat";
inline constexpr const char* button_launch = "Çalıştır";
inline constexpr const char* button_uninstall = "Kaldır";
inline constexpr const char* tooltip_install = " aracını sisteminize kurar ve başlatır.";
inline constexpr const char* tooltip_launch = " masaüstü arayüzünü hemen açar.";
inline constexpr const char* tooltip_uninstall = " kısayollarını sistemden kaldırır.";

}  // namespace z47::texts

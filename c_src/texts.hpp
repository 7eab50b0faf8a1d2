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

// The application's name for the desktop and assistive technologies, and its menu entry.
inline constexpr const char* application_name = "Z47 Kurulum Merkezi";
inline constexpr const char* desktop_file_name = "z47-kurulum-merkezi";

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

// Status line.  Every action's text starts with one of these markers.
inline constexpr const char* mark_running = "⏳ ";
inline constexpr const char* mark_done = "✓ ";
inline constexpr const char* mark_error = "⚠️ Hata: ";
inline constexpr const char* mark_started = "▶ ";
inline constexpr const char* mark_removed = "🛑 ";

// The window was asked to close while scripts run: it stays, with its buttons off, and closes
// itself once they have ended.
inline constexpr const char* closing_when_done =
    "⏳ Çalışan betikler bitince pencere kendiliğinden kapanacak, lütfen bekleyin...";

// Message boxes.
inline constexpr const char* error_prefix = "Hata: ";
inline constexpr const char* credits_prefix = "\n\n🛡️ ";

// Installing one tool ("⏳ " + title + ...).
inline constexpr const char* installing_tail = " kuruluyor, lütfen bekleyin...";
inline constexpr const char* installed_status_tail = " başarıyla kuruldu ve başlatıldı.";
inline constexpr const char* installed_box_tail = " başarıyla kuruldu ve başlatıldı!";
inline constexpr const char* install_done_caption = "Kurulum Tamamlandı";
inline constexpr const char* install_error_caption = "Kurulum Hatası";

// Installing every tool.
inline constexpr const char* installing_all = "⏳ Tüm Z47 programları arka planda kuruluyor...";
inline constexpr const char* installed_all_status = "✓ Tüm Z47 yazılımları başarıyla kuruldu ve başlatıldı!";
inline constexpr const char* installed_all_caption = "Z47 Kurulum Merkezi";
inline constexpr const char* installed_all_box =
    "✓ Tüm Z47 programları (Z47 Monitor, Z47 Morvek, Z47 Delmo, Z47 Sistem ve Ağ, Z47 Sevra) başarıyla kuruldu!";
// On Windows the tools come with the package and no script runs: nothing is installed, and
// the window says so and where the tools are started.
inline constexpr const char* ready_all_status =
    "✓ Tüm Z47 araçları bu pakette hazır — her birini kartındaki “Çalıştır” düğmesiyle başlatabilirsiniz.";
inline constexpr const char* ready_all_box =
    "✓ Windows'ta ayrıca kurulum gerekmez: Z47 araçları bu paketle birlikte gelir ve hazırdır.\n"
    "Her birini kartındaki “Çalıştır” düğmesiyle başlatabilirsiniz.";

// Starting a tool.
inline constexpr const char* started_tail = " başlatıldı.";
inline constexpr const char* launch_error_caption = "Başlatma Hatası";
inline constexpr const char* launch_file_missing = "Başlatılacak dosya bulunamadı: ";

// Removing a tool.
inline constexpr const char* uninstall_question_caption = "Kaldırma Onayı";
inline constexpr const char* uninstall_question_tail =
    " uygulamasını sistemden kaldırmak istediğinize emin misiniz?\n"
    "(Klasördeki kurulum dosyalarınız silinmez, dilediğiniz zaman tekrar kurabilirsiniz.)";
inline constexpr const char* uninstalling_tail = " kaldırılıyor...";
inline constexpr const char* uninstalled_tail = " kaldırıldı.";
inline constexpr const char* uninstall_error_caption = "Kaldırma Hatası";
// On Windows no script runs, so nothing is removed: no question, and the window says where the
// package is removed instead (title + ...).
inline constexpr const char* not_removed_caption = "Kaldırma Bilgisi";
inline constexpr const char* not_removed_box_tail =
    " Windows'ta bu merkezden kaldırılmaz: araçlar paketin bir parçasıdır.\n"
    "Paketi kurulum programıyla kurduysanız Windows Ayarları › Uygulamalar › Yüklü uygulamalar "
    "listesinden, zip dosyasından açtıysanız klasörünü silerek kaldırabilirsiniz.";
inline constexpr const char* not_removed_status_tail =
    " kaldırılmadı — Windows'ta paket, yüklü uygulamalar listesinden kaldırılır.";

// ---- Script worker: the result of a run of install or removal scripts -------------------
// Shown after "Hata: " / "⚠️ Hata: " when a run fails.

inline constexpr const char* scripts_succeeded = "İşlem başarıyla tamamlandı.";

// A run whose thread the system would not make (no memory or no threads left).
inline constexpr const char* thread_start_failed =
    "Arka plan iş parçacığı başlatılamadı; betik çalıştırılmadı. Lütfen biraz sonra yeniden deneyin.";

// A script that ran past the time limit: "\"bash " + path + "\" komutu 45 saniyelik ...".
inline constexpr const char* timeout_head = "\"bash ";
inline constexpr const char* timeout_middle = "\" komutu ";
// Only bash is stopped; what the script started may go on (beside the next run), and the text
// says so.
inline constexpr const char* timeout_tail =
    " saniyelik süre sınırı içinde bitmediği için durduruldu; betiğin başlattığı işlemler "
    "çalışmaya devam ediyor olabilir.";
// A script whose ending could not be read is never counted as a success:
// "bash /…/z47-delmo/kur.sh" komutunun nasıl sonlandığı okunamadı.
inline constexpr const char* status_lost_tail = "\" komutunun nasıl sonlandığı okunamadı.";

// Scripts that ended badly, named folder/file, in one sentence:
//   "z47-delmo/kur.sh betiği 2 çıkış koduyla sonlandı."
//   "z47-delmo/kur.sh betiği 2 ve z47-cloud/kur.sh betiği 1 çıkış koduyla sonlandı."
//   "z47-delmo/kur.sh betiği 2 çıkış koduyla ve z47-cloud/kur.sh betiği 9 numaralı sinyalle sonlandı."
// A phrase shared by neighbouring scripts is said once, after the last of them.
inline constexpr const char* failed_script = " betiği ";
inline constexpr const char* failed_by_exit = " çıkış koduyla";
inline constexpr const char* failed_by_signal = " numaralı sinyalle";
inline constexpr const char* failed_list_comma = ", ";
inline constexpr const char* failed_list_and = " ve ";
inline constexpr const char* failed_end = " sonlandı.";
// A script that was there when the action was asked for and is gone when its turn comes:
//   "z47-cloud/kur.sh betiği sırası geldiğinde bulunamadı."
inline constexpr const char* vanished_tail = " betiği sırası geldiğinde bulunamadı.";
// A run's result names every script that failed, then what ended the run, one after another.

}  // namespace z47::texts

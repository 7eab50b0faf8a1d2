// The program catalogue: one record (a dict) per tool, in the order the window shows them.
// The texts are the tools' own names and descriptions, as their makers publish them.
#include "catalogue.hpp"

#include "module.hpp"

namespace z47 {
namespace {

struct Entry {
    const char* id;           // also the tool's folder beside the module
    const char* win_exe;
    const char* win_alt_exe;  // nullptr: the record has no such key at all
    const char* win_dir;
    const char* title;
    const char* version;
    const char* desc;
    const char* deb;
    const char* accent;
};

const Entry entries[] = {
    {"z47-linux-monitor", "Z47_Sistem_Monitoru.exe", "Z47_System_Monitor.exe", "Z47_Sistem_Monitoru",
     "Z47 Sistem Monitörü (Monitor)", "v1.5.0",
     "Tek Simge + Üzerine Gelince Açılan Dikey Sistem Özeti ve Canlı Süreç Denetçisi",
     "z47-linux-monitor_1.5.0_amd64.deb / .AppImage / .exe", "#15803D"},
    {"z47-vpn-adblocker", "Z47_Morvek_VPN_AdBlocker.exe", nullptr, "Z47_Morvek_VPN_AdBlocker",
     "Z47 Morvek — Reklam Engelleyici ve Güvenli Ağ", "v2.0",
     "Sistem genelinde reklam ve izleyici engelleme, güvenli DNS koruması ve ağ trafiği kontrolü.",
     "z47-vpn-adblocker", "#0284C7"},
    {"z47-delmo", "Z47_Delmo.exe", nullptr, "Z47_Delmo",
     "Z47 Delmo — Parola, Not Defteri ve Form Yöneticisi", "v1.5",
     "Tarayıcı şifrelerini yönetme, güvenli not defteri, hızlı form kartları ve mobil cihaz eşitleme.",
     "z47-delmo", "#15803D"},
    {"z47-system-network", "Z47_System_Network.exe", nullptr, "Z47_System_Network",
     "Z47 Sistem ve Ağ Kontrol Merkezi", "v1.5",
     "Sistem hızlandırma ve bakım taraması, hızlı onarım araçları, yerel ağ cihaz keşfi ve bağlantı testleri.",
     "z47-system-network", "#D97706"},
    {"z47-cloud", "Z47_Sevra.exe", "Z47_Cloud.exe", "Z47_Sevra",
     "Z47 Sevra — Bulut Dosya ve Yedekleme Merkezi", "v1.5",
     "Microsoft OneDrive ve bulut hesapları arasında dosya aktarımı, medya galerisi ve otomatik klasör yedekleme.",
     "z47-cloud", "#0284C7"},
    {"z47-remote-desktop", "Tevrix.exe", "Z47_Remote_Desktop.exe", "Tevrix",
     "Tevrix — Uzak Masaüstü ve Hızlı Destek", "v3.1",
     "9 haneli cihaz koduyla anında uzak masaüstü bağlantısı, dosya paylaşımı ve sürekli erişim yönetimi.",
     "z47-remote-desktop", "#15803D"},
};

py::list run_cmd(const char* folder)
{
    py::object py_exec = global("PY_EXEC");
    py::object app = global("BASE_Z47_DIR") / py::str(folder) / py::str("app.py");
    py::list cmd;
    cmd.append(py_exec);
    cmd.append(py::str(app));
    return cmd;
}

py::dict record(const Entry& e)
{
    py::dict r;  // keys in this order: callers and tests see the insertion order
    r["id"] = e.id;
    r["win_exe"] = e.win_exe;
    if (e.win_alt_exe)
        r["win_alt_exe"] = e.win_alt_exe;
    r["win_dir"] = e.win_dir;
    r["title"] = e.title;
    r["version"] = e.version;
    r["desc"] = e.desc;
    r["folder"] = e.id;
    r["deb"] = e.deb;
    r["run_cmd"] = run_cmd(e.id);
    r["accent"] = e.accent;
    return r;
}

}  // namespace

py::list build_programs()
{
    py::list programs;
    for (const Entry& e : entries)
        programs.append(record(e));
    return programs;
}

}  // namespace z47

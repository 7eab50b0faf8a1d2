"""The catalogue of the six tools."""
import os

import pytest

RECORDS = [
    # id/folder, title, version, accent, win_exe, win_alt_exe (None: no key), win_dir
    ("z47-linux-monitor", "Z47 Sistem Monitörü (Monitor)", "v1.5.0", "#15803D",
     "Z47_Sistem_Monitoru.exe", "Z47_System_Monitor.exe", "Z47_Sistem_Monitoru"),
    ("z47-vpn-adblocker", "Z47 Morvek — Reklam Engelleyici ve Güvenli Ağ", "v2.0", "#0284C7",
     "Z47_Morvek_VPN_AdBlocker.exe", None, "Z47_Morvek_VPN_AdBlocker"),
    ("z47-delmo", "Z47 Delmo — Parola, Not Defteri ve Form Yöneticisi", "v1.5", "#15803D",
     "Z47_Delmo.exe", None, "Z47_Delmo"),
    ("z47-system-network", "Z47 Sistem ve Ağ Kontrol Merkezi", "v1.5", "#D97706",
     "Z47_System_Network.exe", None, "Z47_System_Network"),
    ("z47-cloud", "Z47 Sevra — Bulut Dosya ve Yedekleme Merkezi", "v1.5", "#0284C7",
     "Z47_Sevra.exe", "Z47_Cloud.exe", "Z47_Sevra"),
    ("z47-remote-desktop", "Tevrix — Uzak Masaüstü ve Hızlı Destek", "v3.1", "#15803D",
     "Tevrix.exe", "Z47_Remote_Desktop.exe", "Tevrix"),
]

DESCRIPTIONS = [
    "Tek Simge + Üzerine Gelince Açılan Dikey Sistem Özeti ve Canlı Süreç Denetçisi",
    "Sistem genelinde reklam ve izleyici engelleme, güvenli DNS koruması ve ağ trafiği kontrolü.",
    "Tarayıcı şifrelerini yönetme, güvenli not defteri, hızlı form kartları ve mobil cihaz eşitleme.",
    "Sistem hızlandırma ve bakım taraması, hızlı onarım araçları, yerel ağ cihaz keşfi ve bağlantı testleri.",
    "Microsoft OneDrive ve bulut hesapları arasında dosya aktarımı, medya galerisi ve otomatik klasör yedekleme.",
    "9 haneli cihaz koduyla anında uzak masaüstü bağlantısı, dosya paylaşımı ve sürekli erişim yönetimi.",
]


@pytest.mark.parametrize("index", range(6))
def test_each_record_holds_its_tool(centre, index):
    ident, title, version, accent, win_exe, win_alt, win_dir = RECORDS[index]
    prog = centre.PROGRAMS[index]
    expected_keys = ["id", "win_exe"] + (["win_alt_exe"] if win_alt else []) + [
        "win_dir", "title", "version", "desc", "folder", "deb", "run_cmd", "accent"]
    assert list(prog) == expected_keys
    assert (prog["id"], prog["folder"], prog["title"], prog["version"], prog["accent"]) == \
        (ident, ident, title, version, accent)
    assert (prog["win_exe"], prog.get("win_alt_exe"), prog["win_dir"]) == (win_exe, win_alt, win_dir)
    assert prog["desc"] == DESCRIPTIONS[index]
    expected_deb = "z47-linux-monitor_1.5.0_amd64.deb / .AppImage / .exe" if index == 0 else ident
    assert prog["deb"] == expected_deb


def test_titles_use_em_dashes(centre):
    for prog in centre.PROGRAMS:
        assert " - " not in prog["title"]
    assert sum("\u2014" in prog["title"] for prog in centre.PROGRAMS) == 4


def test_run_commands_start_each_app_py_with_the_interpreter(centre):
    for prog in centre.PROGRAMS:
        interpreter, script = prog["run_cmd"]
        assert interpreter == centre.PY_EXEC
        assert os.path.isabs(script)
        assert script == str(centre.BASE_Z47_DIR) + os.sep + prog["folder"] + os.sep + "app.py"


def test_catalogue_is_a_list_of_six_dicts(centre):
    assert type(centre.PROGRAMS) is list and len(centre.PROGRAMS) == 6
    assert all(type(prog) is dict for prog in centre.PROGRAMS)

"""What the tests compare the centre with: the six tools as their user sees them, in the
catalogue's order, and the texts of the window that several test files check.  The tools are
one table; every other name here is read from it."""
from typing import NamedTuple, Optional


class Tool(NamedTuple):
    folder: str                 # also the record's id and its desktop entry's name
    title: str
    version: str
    accent: str
    win_exe: str
    win_alt_exe: Optional[str]  # None: the record has no such key
    win_dir: str
    desc: str


TOOLS = [
    Tool("z47-linux-monitor", "Z47 Sistem Monitörü (Monitor)", "v1.5.0", "#15803D",
         "Z47_Sistem_Monitoru.exe", "Z47_System_Monitor.exe", "Z47_Sistem_Monitoru",
         "Tek Simge + Üzerine Gelince Açılan Dikey Sistem Özeti ve Canlı Süreç Denetçisi"),
    Tool("z47-vpn-adblocker", "Z47 Morvek — Reklam Engelleyici ve Güvenli Ağ", "v2.0", "#0284C7",
         "Z47_Morvek_VPN_AdBlocker.exe", None, "Z47_Morvek_VPN_AdBlocker",
         "Sistem genelinde reklam ve izleyici engelleme, güvenli DNS koruması ve ağ trafiği kontrolü."),
    Tool("z47-delmo", "Z47 Delmo — Parola, Not Defteri ve Form Yöneticisi", "v1.5", "#15803D",
         "Z47_Delmo.exe", None, "Z47_Delmo",
         "Tarayıcı şifrelerini yönetme, güvenli not defteri, hızlı form kartları ve mobil cihaz eşitleme."),
    Tool("z47-system-network", "Z47 Sistem ve Ağ Kontrol Merkezi", "v1.5", "#D97706",
         "Z47_System_Network.exe", None, "Z47_System_Network",
         "Sistem hızlandırma ve bakım taraması, hızlı onarım araçları, yerel ağ cihaz keşfi ve bağlantı testleri."),
    Tool("z47-cloud", "Z47 Sevra — Bulut Dosya ve Yedekleme Merkezi", "v1.5", "#0284C7",
         "Z47_Sevra.exe", "Z47_Cloud.exe", "Z47_Sevra",
         "Microsoft OneDrive ve bulut hesapları arasında dosya aktarımı, medya galerisi ve otomatik klasör "
         "yedekleme."),
    Tool("z47-remote-desktop", "Tevrix — Uzak Masaüstü ve Hızlı Destek", "v3.1", "#15803D",
         "Tevrix.exe", "Z47_Remote_Desktop.exe", "Tevrix",
         "9 haneli cihaz koduyla anında uzak masaüstü bağlantısı, dosya paylaşımı ve sürekli erişim yönetimi."),
]

FOLDERS = [tool.folder for tool in TOOLS]
TITLES = {tool.folder: tool.title for tool in TOOLS}  # by folder

CREDITS = "Z47 Yazılım Ekibi ve Tevrix Geliştiricileri tarafından hazırlanmıştır."
READY = "Hazır — İstediğiniz aracı tek tıkla kurabilir veya başlatabilirsiniz."

# "Tümünü Tek Tıkla Kur": running, done (status line and box), and on Windows, where nothing runs.
ALL_INSTALLING = "⏳ Tüm Z47 programları arka planda kuruluyor..."
ALL_INSTALLED = "✓ Tüm Z47 yazılımları başarıyla kuruldu ve başlatıldı!"
ALL_INSTALLED_BOX = ("✓ Tüm Z47 programları (Z47 Monitor, Z47 Morvek, Z47 Delmo, Z47 Sistem ve Ağ, Z47 Sevra) "
                     "başarıyla kuruldu!\n\n🛡️ " + CREDITS)
ALL_READY = "✓ Tüm Z47 araçları bu pakette hazır — her birini kartındaki “Çalıştır” düğmesiyle başlatabilirsiniz."
ALL_READY_BOX = ("✓ Windows'ta ayrıca kurulum gerekmez: Z47 araçları bu paketle birlikte gelir ve hazırdır.\n"
                 "Her birini kartındaki “Çalıştır” düğmesiyle başlatabilirsiniz.\n\n🛡️ " + CREDITS)

# "Kaldır" on Windows, after the tool's title.
NOT_REMOVED_BOX_TAIL = (" Windows'ta bu merkezden kaldırılmaz: araçlar paketin bir parçasıdır.\n"
                        "Paketi kurulum programıyla kurduysanız Windows Ayarları › Uygulamalar › Yüklü uygulamalar "
                        "listesinden, zip dosyasından açtıysanız klasörünü silerek kaldırabilirsiniz.")
NOT_REMOVED_STATUS_TAIL = " kaldırılmadı — Windows'ta paket, yüklü uygulamalar listesinden kaldırılır."

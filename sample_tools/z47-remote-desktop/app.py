#!/usr/bin/env python3
"""Sample tool for the Z47 centre: a small window that shows the tool is running."""
import sys
from pathlib import Path

from PyQt5.QtCore import Qt
from PyQt5.QtGui import QIcon
from PyQt5.QtWidgets import QApplication, QLabel

TITLE = "Tevrix — Uzak Masaüstü ve Hızlı Destek"


def main() -> int:
    app = QApplication(sys.argv)
    label = QLabel(TITLE + " çalışıyor.")
    label.setAlignment(Qt.AlignCenter)
    label.setWindowTitle(TITLE)
    icon = Path(__file__).resolve().parent / "assets" / "icon_512.png"
    if icon.exists():
        label.setWindowIcon(QIcon(str(icon)))
    label.resize(480, 200)
    label.show()
    return app.exec_()


if __name__ == "__main__":
    sys.exit(main())

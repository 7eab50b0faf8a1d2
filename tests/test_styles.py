"""Fonts and style sheets: the exact texts the window applies."""
import pytest

WINDOW_SHEET = (
    "\n"
    "            QWidget {\n"
    "                background-color: #F4F7FB;\n"
    "                color: #0F172A;\n"
    "                font-family: 'Roboto', 'Noto Sans', sans-serif;\n"
    "                font-weight: 700;\n"
    "            }\n"
    "            QFrame#Card {\n"
    "                background-color: #FFFFFF;\n"
    "                border: 1.5px solid #CBD5E1;\n"
    "                border-radius: 12px;\n"
    "            }\n"
    "            QFrame#HeaderCard {\n"
    "                background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #ECFDF5, stop:1 #FFFFFF);\n"
    "                border: 1.5px solid #86EFAC;\n"
    "                border-radius: 12px;\n"
    "            }\n"
    "            "
)

INSTALL_ALL_SHEET = (
    "\n"
    "            QPushButton {\n"
    "                background-color: #15803D;\n"
    "                color: #FFFFFF;\n"
    "                border: 1.5px solid #166534;\n"
    "                border-radius: 8px;\n"
    "                padding: 6px 16px;\n"
    "                font-weight: 700;\n"
    "            }\n"
    "            QPushButton:hover {\n"
    "                background-color: #166534;\n"
    "            }\n"
    "            "
)


def card_sheet(bg, fg, border):
    return (
        "\n"
        "            QPushButton {\n"
        f"                background-color: {bg};\n"
        f"                color: {fg};\n"
        f"                border: 1.5px solid {border};\n"
        "                border-radius: 8px;\n"
        "                padding: 0 14px;\n"
        "                font-weight: 700;\n"
        "            }\n"
        "            QPushButton:hover {\n"
        "                opacity: 0.92;\n"
        "            }\n"
        "        "
    )


@pytest.mark.parametrize("args", [
    ("", "", ""),
    ("#0284C7", "#FFFFFF", "#0369A1"),
    (1, None, 2.5),  # any value goes in as its text form
])
def test_card_button_sheet(centre, args):
    assert centre.Z47InstallerCenter._btn_style(*args) == card_sheet(*(str(a) for a in args))


def test_fixed_sheets_are_exact(window):
    root = window.centralWidget()
    assert root.styleSheet() == WINDOW_SHEET
    from PyQt5.QtWidgets import QPushButton
    install_all = [b for b in root.findChildren(QPushButton) if b.text() == "Tümünü Tek Tıkla Kur"][0]
    assert install_all.styleSheet() == INSTALL_ALL_SHEET
    assert window.styleSheet() == ""  # the sheet lives on the central widget, not the window


@pytest.mark.parametrize("size", [9, 13])
def test_clean_font_is_bold_antialiased_roboto(centre, size):
    font = centre.clean_font(size)
    assert (font.family(), font.pointSize(), font.bold(), font.weight()) == ("Roboto", size, True, centre.QFont.Bold)
    assert font.styleStrategy() == centre.QFont.PreferAntialias | centre.QFont.PreferQuality
    other = centre.clean_font(size)
    assert other == font and other is not font
    other.setPointSize(size + 1)
    assert font.pointSize() == size

"""What each action that runs scripts reports, side by side: a script that fails, and two
quick clicks on the same button."""
import pytest

from vocabulary import ALL_INSTALLED, TITLES

TOOL = "z47-system-network"

# An action: the window's method, whether it acts on a record, its script, the caption of its
# failure box, and what the window says once two runs of it have gone well.
ACTIONS = {
    "install": ("install_one", True, "kur.sh", "Kurulum Hatası", f"✓ {TITLES[TOOL]} başarıyla kuruldu ve başlatıldı."),
    "install-all": ("install_all", False, "kur.sh", "Kurulum Hatası", ALL_INSTALLED),
    "removal": ("uninstall_one", True, "kaldir.sh", "Kaldırma Hatası", f"🛑 {TITLES[TOOL]} kaldırıldı."),
}


def ask(window, record_of, boxes, action):
    method, with_record, *_ = ACTIONS[action]
    boxes.answer = boxes.Yes  # the removal's question
    getattr(window, method)(*([record_of(TOOL)] if with_record else []))


@pytest.mark.parametrize("action, status", [("install", 2), ("install-all", 3), ("removal", 1), ("removal", 4)])
def test_a_failing_script_is_reported_with_its_exit_status(window, tool_tree, boxes, record_of, until_done,
                                                           action, status):
    _, _, script, caption, _ = ACTIONS[action]
    tool_tree.logging_script(TOOL, script, extra=f"exit {status}")
    ask(window, record_of, boxes, action)
    until_done(window)
    msg = f"{TOOL}/{script} betiği {status} çıkış koduyla sonlandı."
    assert [call for call in boxes.calls if call[0] != "question"] == [("warning", window, caption, "Hata: " + msg)]
    assert window.lbl_status.text() == "⚠️ Hata: " + msg
    assert tool_tree.logged() == [f"{TOOL}/{script}"]


@pytest.mark.parametrize("action", ["install-all", "removal"])
def test_two_quick_clicks_give_two_runs_each_reported(window, tool_tree, boxes, record_of, until_done, action):
    _, _, script, _, done_text = ACTIONS[action]
    tool_tree.logging_script(TOOL, script)
    ask(window, record_of, boxes, action)
    ask(window, record_of, boxes, action)
    assert len(window._workers) == 2
    until_done(window)
    assert tool_tree.logged() == [f"{TOOL}/{script}"] * 2
    assert window.lbl_status.text() == done_text
    results = [call[:3] for call in boxes.calls if call[0] != "question"]
    assert results == ([("information", window, "Z47 Kurulum Merkezi")] * 2 if action == "install-all" else [])

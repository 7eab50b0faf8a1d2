"""Removing a tool: the question first, then kaldir.sh in the background."""
import pytest

from vocabulary import NOT_REMOVED_BOX_TAIL, NOT_REMOVED_STATUS_TAIL, TITLES

TITLE = TITLES["z47-system-network"]
QUESTION = (TITLE + " uygulamasını sistemden kaldırmak istediğinize emin misiniz?\n"
            "(Klasördeki kurulum dosyalarınız silinmez, dilediğiniz zaman tekrar kurabilirsiniz.)")


@pytest.fixture
def record(record_of):
    return record_of("z47-system-network")


def removal_script(tool_tree, status=0):
    return tool_tree.logging_script("z47-system-network", "kaldir.sh", extra=f"exit {status}")


REMOVED = "z47-system-network/kaldir.sh"


def test_without_a_removal_script_nothing_happens(window, tool_tree, boxes, record):
    window.uninstall_one(record)
    assert boxes.calls == [] and window._workers == []
    assert window.lbl_status.text().startswith("Hazır")


def test_question_asks_with_yes_no_and_defaults_to_no(window, centre, tool_tree, boxes, record):
    removal_script(tool_tree)
    window.uninstall_one(record)
    (kind, parent, caption, text, buttons, default), = boxes.calls
    assert (kind, parent, caption, text) == ("question", window, "Kaldırma Onayı", QUESTION)
    assert int(buttons) == int(centre.QMessageBox.Yes | centre.QMessageBox.No)
    assert default == centre.QMessageBox.No
    # The recorder answered No: nothing runs and the status line is untouched.
    assert window._workers == [] and tool_tree.logged() == []
    assert window.lbl_status.text().startswith("Hazır")


def test_a_folder_named_like_the_script_still_asks(window, tool_tree, boxes, record):
    (tool_tree.folder("z47-system-network") / "kaldir.sh").mkdir()
    window.uninstall_one(record)
    assert [c[0] for c in boxes.calls] == ["question"]


def test_confirmed_removal_runs_the_script_and_reports(window, tool_tree, boxes, record, until_done):
    removal_script(tool_tree)
    boxes.answer = boxes.Yes
    window.uninstall_one(record)
    assert window.lbl_status.text() == f"⏳ {TITLE} kaldırılıyor..."
    until_done(window)
    assert tool_tree.logged() == [REMOVED]
    assert window.lbl_status.text() == f"🛑 {TITLE} kaldırıldı."
    assert [c[0] for c in boxes.calls] == ["question"]  # no box after a good removal


def test_on_windows_nothing_is_asked_or_claimed_and_the_user_learns_where_to_remove(
        window, centre, tool_tree, boxes, record, monkeypatch):
    # No script runs on Windows: asking to confirm, then saying "kaldırıldı.", would both be untrue.
    monkeypatch.setattr(centre.sys, "platform", "win32")
    removal_script(tool_tree)
    boxes.answer = boxes.Yes
    window.uninstall_one(record)
    assert window._workers == [] and tool_tree.logged() == []
    assert window.lbl_status.text() == f"🛑 {TITLE}{NOT_REMOVED_STATUS_TAIL}"
    assert boxes.calls == [("information", window, "Kaldırma Bilgisi", TITLE + NOT_REMOVED_BOX_TAIL)]

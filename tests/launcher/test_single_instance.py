"""The Linux launcher's single-instance guard (a per-user lock held for the life of the
process), with the real centre running as the first instance."""
import pytest

from launcher_env import LauncherFolder, stop, wait_for_file


@pytest.fixture
def running_centre(tmp_path):
    """A first launcher with the real centre, its window painted and kept open."""
    first = LauncherFolder(tmp_path / "Z47 Merkez", tmp_path / "scratch")
    scratch = first.scratch
    first.real_centre()
    frame, close_when = scratch / "first-frame.txt", scratch / "close-now"
    process = first.start(env=first.env(Z47_FIRST_FRAME=str(frame), Z47_FIRST_FRAME_CLOSE_WHEN=str(close_when)))
    try:
        wait_for_file(frame, process)
        yield first
        close_when.touch()
        assert process.wait(timeout=30) == 0  # the first centre ends normally when closed
    finally:
        stop(process)


def second_start(first: LauncherFolder, *args, folder_name="İkinci"):
    """Starts another launcher with the real centre in its own folder, under the same user
    guard as the first; returns its result and whether its window was painted."""
    second = LauncherFolder(first.scratch.parent / folder_name, first.scratch / folder_name)
    second.real_centre()
    frame = first.scratch / f"{folder_name}-frame.txt"
    result = second.run(*args, env=second.env(XDG_RUNTIME_DIR=str(first.runtime_dir),
                                              Z47_FIRST_FRAME=str(frame)))
    return result, frame.exists()


def test_second_start_ends_with_0_and_opens_nothing(running_centre):
    result, painted = second_start(running_centre, "--z47")
    assert result.returncode == 0
    assert not painted
    assert result.stdout == b"" and result.stderr == b""


@pytest.mark.parametrize(
    "args, folder_name, opens",
    [
        (["--self-test"], "İkinci", True),
        (["birinci", "--screenshot"], "İkinci", True),
        (["önce--headlesssonra"], "İkinci", True),  # a flag inside a longer word counts too
        (["--z47-elevated-task", "--status"], "İkinci", True),
        ([], "araç--service", True),  # so does one in the program's own path
        (["--SELF-TEST", "--Headless"], "İkinci", False),  # the test is case-sensitive
    ],
    ids=["flag", "flag-later", "inside-word", "two-flags", "in-program-path", "other-letter-case"],
)
def test_guard_flag_anywhere_in_the_command_line_opens_another_centre(running_centre, args, folder_name, opens):
    result, painted = second_start(running_centre, *args, folder_name=folder_name)
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    assert painted is opens


def test_guard_is_free_again_after_the_first_centre_ends(folder):
    folder.stand_in("def main():\n    _report()\n")
    assert folder.run().returncode == 0
    folder.report_file.unlink()
    assert folder.run().returncode == 0
    assert folder.report_file.exists()  # the second start ran the centre: the lock had gone


def test_tools_started_by_the_centre_do_not_inherit_the_guard(folder):
    # A tool started from the centre outlives it; it must not keep the centre locked.
    folder.stand_in(
        "import subprocess\n"
        "def main():\n"
        "    subprocess.Popen(['sleep', '10'], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,\n"
        "                     stderr=subprocess.DEVNULL, close_fds=False, start_new_session=True)\n")
    assert folder.run().returncode == 0
    folder.stand_in("def main():\n    _report()\n")
    assert folder.run(timeout=20).returncode == 0
    assert folder.report_file.exists()

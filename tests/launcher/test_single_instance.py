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
    process = first.start(env=first.env(Z47_TEST_FRAME=str(frame), Z47_TEST_CLOSE_WHEN=str(close_when)))
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
                                              Z47_TEST_FRAME=str(frame)))
    return result, frame.exists()


def test_second_start_ends_with_0_and_opens_nothing(running_centre):
    result, painted = second_start(running_centre, "--z47")
    assert result.returncode == 0
    assert not painted
    assert result.stdout == b"" and result.stderr == b""


@pytest.mark.parametrize(
    "args",
    [
        ["--self-test"],
        ["birinci", "--screenshot"],
        ["önce--headlesssonra"],  # a flag inside a longer word counts too
        ["--z47-elevated-task", "--status"],
    ],
    ids=["flag", "flag-later", "inside-word", "two-flags"],
)
def test_guard_flag_anywhere_opens_another_centre(running_centre, args):
    result, painted = second_start(running_centre, *args)
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    assert painted


def test_guard_flag_in_the_program_path_opens_another_centre(running_centre):
    result, painted = second_start(running_centre, folder_name="araç--service")
    assert result.returncode == 0
    assert painted


def test_guard_flags_are_case_sensitive(running_centre):
    result, painted = second_start(running_centre, "--SELF-TEST", "--Headless")
    assert result.returncode == 0
    assert not painted


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

"""Fixtures for the launcher's tests (the helpers they use live in launcher_env.py)."""
import pathlib
import shutil
import subprocess
import tempfile

import pytest

from launcher_env import BUILD, LauncherFolder, Wine, WindowsFolder, built, start_xvfb


@pytest.fixture
def folder(tmp_path) -> LauncherFolder:
    return LauncherFolder(tmp_path / "Z47 Kurulum Klasörü", tmp_path / "scratch")


@pytest.fixture(scope="session")
def wine():
    for tool in ("wine", "wineserver", "Xvfb"):
        assert shutil.which(tool), f"{tool} is missing: scripts/install-deps.sh installs it"
    base = pathlib.Path(tempfile.mkdtemp(prefix="wine-tests-", dir=built(BUILD)))
    xvfb, display = start_xvfb()
    session = Wine(base, display)
    try:
        (base / "prefix").mkdir()
        session.server("-p")  # a persistent server: later starts take a tenth of a second
        subprocess.run(["wine", "wineboot", "--init"], env=session.env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        yield session
    finally:
        # -k alone leaves the server (and a launcher's mutex) alive for a moment: wait for it.
        subprocess.run(["wineserver", "-k"], env=session.env, timeout=60)
        subprocess.run(["wineserver", "-w"], env=session.env, timeout=60)
        xvfb.terminate()
        xvfb.wait(timeout=30)
        shutil.rmtree(base, ignore_errors=True)


@pytest.fixture
def windows_folder(tmp_path, wine) -> WindowsFolder:
    return WindowsFolder(tmp_path / "Z47 Kurulum Klasörü", wine)


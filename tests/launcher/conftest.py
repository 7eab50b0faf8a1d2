"""Fixtures for the launcher's tests (the helpers they use live in launcher_env.py)."""
import pathlib
import tempfile

import pytest

from launcher_env import BUILD, LauncherFolder, WindowsFolder, WineUnavailable, built, wine_session


@pytest.fixture
def folder(tmp_path) -> LauncherFolder:
    return LauncherFolder(tmp_path / "Z47 Kurulum Klasörü", tmp_path / "scratch")


@pytest.fixture(scope="session")
def wine():
    base = pathlib.Path(tempfile.mkdtemp(prefix="wine-tests-", dir=built(BUILD)))
    unavailable = None
    try:
        with wine_session(base) as session:
            yield session
    except WineUnavailable as reason:
        unavailable = str(reason)
    if unavailable:  # one line, outside the handler: no chained traceback around it
        pytest.fail(unavailable, pytrace=False)


@pytest.fixture
def windows_folder(tmp_path, wine) -> WindowsFolder:
    return WindowsFolder(tmp_path / "Z47 Kurulum Klasörü", wine)


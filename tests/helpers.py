"""Helpers the test files share: the result text of a good run, and running snippets of Python in
a fresh interpreter, for behaviour that happens once per process (the module's import, main's
application object).  Fixtures live in conftest.py."""
import contextlib
import json
import os
import pathlib
import shutil
import subprocess
import tempfile
import textwrap

ROOT = pathlib.Path(__file__).resolve().parents[1]
STAGE = ROOT / "build" / "centre"
PYTHON = "/usr/bin/python3"

def built_module() -> pathlib.Path:
    """The module as the build stages it; a clear stop when the tree has not been built."""
    found = sorted(STAGE.glob("Z47_Kurulum_Merkezi*.so"))
    if not found:
        raise RuntimeError(f"no built module in {STAGE}: build the tree first (make build-all, or make test)")
    return found[0]


# The result text of a run of scripts in which nothing failed.
SUCCESS = "İşlem başarıyla tamamlandı."


def changed(env: dict, changes: dict) -> dict:
    """A copy of `env` with `changes` made; a value of None removes the variable."""
    out = dict(env)
    for key, value in changes.items():
        if value is None:
            out.pop(key, None)
        else:
            out[key] = value
    return out


@contextlib.contextmanager
def folder_every_user_reaches(prefix: str):
    """A new folder in /tmp that every user may enter, removed afterwards.  The build folder,
    and pytest's folders in it, may lie where only its owner may enter (a checkout under
    /root), so what runs as another user is given this instead."""
    path = pathlib.Path(tempfile.mkdtemp(prefix=prefix, dir="/tmp"))
    try:
        path.chmod(0o755)
        yield path
    finally:
        shutil.rmtree(path)


def python_env(env=None, module_dir=STAGE) -> dict:
    """The environment of a fresh interpreter that finds the module first; `env` as for
    changed()."""
    full_env = dict(os.environ)
    full_env.setdefault("QT_QPA_PLATFORM", "offscreen")
    full_env["PYTHONPATH"] = str(module_dir)
    return changed(full_env, env or {})


def start_python(code: str, *args, env=None, **popen) -> subprocess.Popen:
    """Starts `code` in a fresh interpreter with `args` as sys.argv[1:]; the caller waits."""
    return subprocess.Popen([PYTHON, "-c", textwrap.dedent(code), *map(str, args)], env=python_env(env), **popen)


def run_python(code: str, *args, env=None, cwd=None, timeout=120, module_dir=STAGE) -> subprocess.CompletedProcess:
    """Runs `code` with the module's folder first on sys.path and `args` as sys.argv[1:];
    returns the finished process."""
    return subprocess.run([PYTHON, "-c", textwrap.dedent(code), *map(str, args)], env=python_env(env, module_dir),
                          cwd=cwd, timeout=timeout, capture_output=True, text=True)


def run_json(code: str, *args, **kwargs):
    """Runs `code`, which prints one JSON document last; returns it decoded."""
    done = run_python(code, *args, **kwargs)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.strip().splitlines()[-1])

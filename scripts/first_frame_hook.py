"""First-frame hook: waits for the centre's window to be painted, instead of waiting "long
enough".  Used by `scripts/run_centre.py` (the screenshot of `make run`), the launcher's tests
and the start-up benchmarks.

Python loads it at start-up as sitecustomize (a copy of it by that name beside the program, or
first on PYTHONPATH), or a program imports it before the centre.  When Z47_FIRST_FRAME names a
file, it notes the wall clock as soon as it is loaded, watches the main window of whatever
QApplication runs, and after that window's first paint writes one line to that file:

    loaded (ns) <tab> first frame (ns) <tab> peak working set (bytes, 0 if unknown) <tab> title

The clock is time.time_ns(): under wine the host's real-time clock, which a caller outside
wine can read too.  When Z47_FIRST_FRAME_SHOT names a file, a picture of the window as the
screen shows it is saved there (PNG).  Then the window is closed the way its user would close
it, once the file Z47_FIRST_FRAME_CLOSE_WHEN names exists when it names one.  Without
Z47_FIRST_FRAME it does nothing.
"""
import os
import time

_loaded = time.time_ns()
_frame_file = os.environ.get("Z47_FIRST_FRAME")

if _frame_file:
    from PyQt5 import QtCore, QtWidgets

    def _peak_working_set() -> int:
        """The process's peak working set as Windows reports it (wine reads it from the host);
        0 elsewhere."""
        try:
            import ctypes
            from ctypes import wintypes

            class Counters(ctypes.Structure):
                _fields_ = [("cb", wintypes.DWORD), ("PageFaultCount", wintypes.DWORD),
                            ("PeakWorkingSetSize", ctypes.c_size_t), ("WorkingSetSize", ctypes.c_size_t),
                            ("QuotaPeakPagedPoolUsage", ctypes.c_size_t),
                            ("QuotaPagedPoolUsage", ctypes.c_size_t),
                            ("QuotaPeakNonPagedPoolUsage", ctypes.c_size_t),
                            ("QuotaNonPagedPoolUsage", ctypes.c_size_t),
                            ("PagefileUsage", ctypes.c_size_t), ("PeakPagefileUsage", ctypes.c_size_t)]

            counters = Counters()
            counters.cb = ctypes.sizeof(counters)
            kernel32 = ctypes.WinDLL("kernel32")
            kernel32.GetCurrentProcess.restype = wintypes.HANDLE
            get_info = kernel32.K32GetProcessMemoryInfo
            get_info.argtypes = [wintypes.HANDLE, ctypes.c_void_p, wintypes.DWORD]
            if get_info(kernel32.GetCurrentProcess(), ctypes.byref(counters), counters.cb):
                return counters.PeakWorkingSetSize
        except (AttributeError, OSError):  # not Windows
            pass
        return 0

    class _FirstFrame(QtCore.QObject):
        def __init__(self):
            super().__init__()
            self.window = None

        def eventFilter(self, obj, event):
            if (self.window is None and event.type() == QtCore.QEvent.Paint
                    and isinstance(obj, QtWidgets.QMainWindow)):
                self.window = obj
                # Runs once the paint is done and the frame has been handed to the screen.
                QtCore.QTimer.singleShot(0, self.painted)
            return False

        def painted(self):
            stamp = time.time_ns()
            peak = _peak_working_set()
            shot = os.environ.get("Z47_FIRST_FRAME_SHOT")
            if shot and not self.window.screen().grabWindow(self.window.winId()).save(shot, "PNG"):
                print(f"could not save {shot}", flush=True)
            with open(_frame_file, "w", encoding="utf-8") as f:
                f.write(f"{_loaded}\t{stamp}\t{peak}\t{self.window.windowTitle()}\n")
            self.close_when_told()

        def close_when_told(self):
            close_when = os.environ.get("Z47_FIRST_FRAME_CLOSE_WHEN")
            if close_when and not os.path.exists(close_when):
                QtCore.QTimer.singleShot(50, self.close_when_told)
                return
            self.window.close()

    _watch = _FirstFrame()
    _Application = QtWidgets.QApplication

    class _WatchedApplication(_Application):
        def exec_(self):
            self.installEventFilter(_watch)
            return super().exec_()

        def exec(self):
            self.installEventFilter(_watch)
            return super().exec()

    QtWidgets.QApplication = _WatchedApplication

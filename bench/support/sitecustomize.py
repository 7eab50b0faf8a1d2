"""First-frame hook for the Windows start-up benchmark (bench_windows_startup.py).

The benchmark lays out its own copy of the package whose python312._pth ends with
"import site", so the runtime imports this module from the package folder at start-up.  When
Z47_BENCH_FRAME names a file, it notes the wall clock (time.time_ns(), which under wine is the
host's real-time clock, the one the benchmark reads) as soon as the runtime is up, watches the
main window of whatever QApplication runs, and after that window's first paint writes one line:

    runtime up (ns) <tab> first frame (ns) <tab> peak working set (bytes, 0 if unknown) <tab> title

then closes the window the way its user would, so that the process ends with 0.
Without Z47_BENCH_FRAME it does nothing.
"""
import os
import time

_runtime_up = time.time_ns()
_frame_file = os.environ.get("Z47_BENCH_FRAME")

if _frame_file:
    from PyQt5 import QtCore, QtWidgets

    def _peak_working_set() -> int:
        """The process's peak working set as Windows reports it (wine reads it from the host)."""
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
        except Exception:
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
            with open(_frame_file, "w", encoding="utf-8") as f:
                f.write(f"{_runtime_up}\t{stamp}\t{peak}\t{self.window.windowTitle()}\n")
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

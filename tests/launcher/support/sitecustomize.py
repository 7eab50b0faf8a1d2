"""First-frame hook for the launcher's tests and benchmark.

Placed in the launcher's folder (which the launcher makes PYTHONPATH), the runtime loads it
at start-up.  When Z47_TEST_FRAME names a file, it watches the centre's main window: after
the window's first paint it writes the monotonic clock (ns), a tab and the window title to
that file, then closes the window the way its user would.  When Z47_TEST_CLOSE_WHEN names a
file, the window stays open until that file exists.  Without Z47_TEST_FRAME it does nothing.
"""
import os

_frame_file = os.environ.get("Z47_TEST_FRAME")

if _frame_file:
    import time

    from PyQt5 import QtCore, QtWidgets

    class _FirstFrame(QtCore.QObject):
        def __init__(self):
            super().__init__()
            self.window = None

        def eventFilter(self, obj, event):
            if (self.window is None and event.type() == QtCore.QEvent.Paint
                    and isinstance(obj, QtWidgets.QMainWindow)):
                self.window = obj
                # Runs once the paint is done and the frame has been handed on.
                QtCore.QTimer.singleShot(0, self.painted)
            return False

        def painted(self):
            stamp = time.monotonic_ns()
            with open(_frame_file, "w", encoding="utf-8") as f:
                f.write(f"{stamp}\t{self.window.windowTitle()}\n")
            self.close_when_told()

        def close_when_told(self):
            close_when = os.environ.get("Z47_TEST_CLOSE_WHEN")
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

    QtWidgets.QApplication = _WatchedApplication

"""A probe of the centre's window as its user sees it, loaded by Python at start-up (as
sitecustomize) on Linux and in the Windows package under wine.

It wraps QApplication before the centre imports it.  Once the centre's window has painted
and has been fitted to its screen, the probe writes one JSON line per finding to the file
named by Z47_PROBE_REPORT:

    ["window", {...}]    the screen, the window's frame, size, minimum and controls, in the
                         window's logical pixels (see window_report)
    ["box", {...}]       each message box the centre shows: caption, text, the buttons'
                         texts and the default one; the box is then answered with Enter
    ["status", text]     the status line once an action has ended: its boxes answered and
                         no run of it left in the background

Z47_PROBE_SHOT names a PNG file for a picture of the window.  Z47_PROBE_ACTIONS is a JSON
list of [method, tool folder] (or [method] alone) to call on the window one after another,
each once the box of the one before has been answered; "launch_missing" as the method starts
a tool whose app.py does not exist.  Then the window is closed as its user would close it
(once the file Z47_PROBE_HOLD names exists, when it names one).  Without
Z47_PROBE_REPORT it does nothing.
"""
import json
import os

_report_file = os.environ.get("Z47_PROBE_REPORT")

if _report_file:
    from PyQt5 import QtCore, QtGui, QtWidgets

    def _report(kind, what):
        with open(_report_file, "a", encoding="utf-8") as f:
            f.write(json.dumps([kind, what], ensure_ascii=False) + "\n")

    def _rect(rect):
        return [rect.x(), rect.y(), rect.width(), rect.height()]

    def _global_rect(widget):
        top_left = widget.mapToGlobal(QtCore.QPoint(0, 0))
        return [top_left.x(), top_left.y(), widget.width(), widget.height()]

    def window_report(window):
        screen = window.screen()
        scroll = window.findChild(QtWidgets.QScrollArea)
        return {
            "application": QtWidgets.QApplication.applicationName(),
            "desktop_file": QtWidgets.QApplication.desktopFileName(),
            "font": QtGui.QFontInfo(window.font()).family(),  # the family Qt really draws with
            "ratio": screen.devicePixelRatio(),
            "screen": _rect(screen.geometry()),
            "available": _rect(screen.availableGeometry()),
            "frame": _rect(window.frameGeometry()),
            "client": _global_rect(window),
            "minimum": [window.minimumWidth(), window.minimumHeight()],
            "viewport": _global_rect(scroll.viewport()),
            "buttons": [[b.text(), _global_rect(b)] for b in window.findChildren(QtWidgets.QPushButton)],
            "status": _global_rect(window.lbl_status),
        }

    class _Probe(QtCore.QObject):
        # Holds no reference to the application: a cycle through it would leave the Qt objects
        # to be destroyed in any order when the interpreter ends.
        def __init__(self):
            super().__init__()
            self.window = None  # the centre's window, once it has painted
            self.actions = json.loads(os.environ.get("Z47_PROBE_ACTIONS", "[]"))
            self.boxes_seen = 0
            self.in_action = False  # an action is being called (its box may be open inside it)
            self.acted = False  # an action has ended or is running: its status line is still to report
            self.fit_deadline = None

        def eventFilter(self, obj, event):
            if (self.window is None and event.type() == QtCore.QEvent.Paint
                    and type(obj).__name__ == "Z47InstallerCenter"):
                self.window = obj
                self.fit_deadline = QtCore.QDeadlineTimer(10_000)
                QtCore.QTimer.singleShot(0, self.when_fitted)
            return False

        def when_fitted(self):
            # On X11 the window is fitted once more when the window manager has framed it.
            if self.window.property("_z47_fit_when_framed") and not self.fit_deadline.hasExpired():
                QtCore.QTimer.singleShot(20, self.when_fitted)
                return
            QtWidgets.QApplication.processEvents()
            _report("window", window_report(self.window))
            shot = os.environ.get("Z47_PROBE_SHOT")
            if shot:
                picture = self.window.grab()
                picture.save(shot, "PNG")
                del picture
            self.timer = QtCore.QTimer()
            self.timer.timeout.connect(self.step)
            self.timer.start(30)

        def step(self):
            box = QtWidgets.QApplication.activeModalWidget()
            if isinstance(box, QtWidgets.QMessageBox):
                self.answer(box)
                return
            if self.in_action or self.window._workers:
                return  # the action, or the run it started, has not ended yet
            if self.acted:
                self.acted = False
                _report("status", self.window.lbl_status.text())
                return
            if not self.actions:
                hold = os.environ.get("Z47_PROBE_HOLD")
                if hold and not os.path.exists(hold):
                    return  # open until that file exists
                self.timer.stop()
                self.window.close()
                return
            method, folder = (self.actions.pop(0) + [None])[:2]
            self.in_action = self.acted = True
            QtCore.QTimer.singleShot(0, lambda: self.act(method, folder))

        def act(self, method, folder):
            try:
                self.call(method, folder)
            finally:
                self.in_action = False

        def call(self, method, folder):
            centre = __import__("Z47_Kurulum_Merkezi")
            if method == "launch_missing":
                missing = os.path.join(str(centre.BASE_Z47_DIR), "yok", "app.py")
                record = {"id": "yok", "title": "Yok", "run_cmd": [centre.PY_EXEC, missing]}
                method = "launch_one"
            elif folder is None:  # install_all
                getattr(self.window, method)()
                return
            else:
                record = next(p for p in centre.PROGRAMS if p["folder"] == folder)
            getattr(self.window, method)(record)

        def answer(self, box):
            _report("box", {
                "caption": box.windowTitle(),
                "text": box.text(),
                "buttons": [b.text() for b in box.buttons()],
                "default": box.defaultButton().text() if box.defaultButton() else None,
            })
            for kind in (QtCore.QEvent.KeyPress, QtCore.QEvent.KeyRelease):
                QtWidgets.QApplication.sendEvent(box, QtGui.QKeyEvent(kind, QtCore.Qt.Key_Return, QtCore.Qt.NoModifier))

    _Application = QtWidgets.QApplication

    _probe = []

    class _ProbedApplication(_Application):
        def exec_(self):
            _probe.append(_Probe())
            self.installEventFilter(_probe[0])
            try:
                return super().exec_()
            finally:
                self.removeEventFilter(_probe[0])
                _probe.clear()

    QtWidgets.QApplication = _ProbedApplication

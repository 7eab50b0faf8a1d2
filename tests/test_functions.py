"""The module's functions and methods behave like Python functions: names, annotations,
binding, argument passing and errors."""
import inspect
import traceback

import pytest

# The actions in their order, then the Qt handler that keeps the window open while scripts run.
METHODS = ["__init__", "_btn_style", "_run_scripts_async", "install_one", "launch_one", "uninstall_one",
           "install_all", "showEvent", "moveEvent", "closeEvent"]

ANNOTATIONS = [
    ("clean_font", {"size_pt": "int", "return": "QFont"}),
    ("main", {"return": "None"}),
    ("ScriptWorker.__init__", {"scripts": "List[Path]", "return": "None"}),
    ("ScriptWorker.run", {"return": "None"}),
    ("Z47InstallerCenter.__init__", {"return": "None"}),
    ("Z47InstallerCenter._btn_style", {"bg": "str", "fg": "str", "border": "str", "return": "str"}),
    ("Z47InstallerCenter._run_scripts_async", {"scripts": "List[Path]", "status_txt": "str",
                                               "on_finished": "Callable[[bool, str], None]", "return": "None"}),
    ("Z47InstallerCenter.install_one", {"prog": "dict", "return": "None"}),
    ("Z47InstallerCenter.launch_one", {"prog": "dict", "return": "None"}),
    ("Z47InstallerCenter.uninstall_one", {"prog": "dict", "return": "None"}),
    ("Z47InstallerCenter.install_all", {"return": "None"}),
]


def lookup(centre, dotted):
    obj = centre
    for part in dotted.split("."):
        obj = inspect.getattr_static(obj, part) if obj is not centre else getattr(obj, part)
    return obj.__func__ if isinstance(obj, staticmethod) else obj


@pytest.mark.parametrize("qualname, annotations", ANNOTATIONS)
def test_functions_carry_names_and_annotation_texts(centre, qualname, annotations):
    func = lookup(centre, qualname)
    assert func.__qualname__ == qualname
    assert func.__name__ == qualname.rsplit(".", 1)[-1]
    assert func.__module__ == "Z47_Kurulum_Merkezi"
    assert func.__annotations__ == annotations
    assert func.__doc__ is None


def test_classes_define_their_methods_in_order(centre):
    own = [name for name in vars(centre.Z47InstallerCenter) if not name.startswith("__") or name == "__init__"]
    assert own == METHODS
    assert centre.Z47InstallerCenter.__doc__ is None
    assert isinstance(vars(centre.Z47InstallerCenter)["_btn_style"], staticmethod)
    assert centre.ScriptWorker.__doc__ == "Arayüzün donmaması için kurulum betiklerini arka planda çalıştırır."
    assert centre.ScriptWorker.__mro__[1] is centre.QThread
    assert centre.Z47InstallerCenter.__mro__[1] is centre.QMainWindow


def test_attributes_are_writable_like_a_python_function(centre):
    func = centre.clean_font
    saved = dict(vars(func))
    try:
        func.__qualname__ = "renamed"
        func.__doc__ = "doc"
        func.extra = 1
        assert (func.__qualname__, func.__doc__, func.extra) == ("renamed", "doc", 1)
    finally:
        vars(func).clear()
        vars(func).update(saved)


def test_methods_bind_to_instances_and_stay_plain_on_the_class(window, centre):
    bound = window.launch_one
    assert bound.__self__ is window and bound.__func__ is centre.Z47InstallerCenter.launch_one
    assert type(bound).__name__ == "method"
    assert centre.Z47InstallerCenter.__dict__["launch_one"].__get__(None, centre.Z47InstallerCenter) is \
        centre.Z47InstallerCenter.launch_one


def test_static_style_method_works_from_class_and_instance(window, centre):
    expected = centre.Z47InstallerCenter._btn_style("a", "b", "c")
    assert window._btn_style("a", "b", "c") == expected
    assert window._btn_style(bg="a", border="c", fg="b") == expected


def test_install_all_takes_any_extra_positional_values(window, boxes, tool_tree):
    window.install_all(False, 1, "x")
    assert window.lbl_status.text() == "⏳ Tüm Z47 programları arka planda kuruluyor..."


@pytest.mark.parametrize("call, message", [
    (lambda c: c.clean_font(), "clean_font() missing 1 required positional argument: 'size_pt'"),
    (lambda c: c.clean_font(1, 2), "clean_font() takes 1 positional argument but 2 were given"),
    (lambda c: c.clean_font(size=3), "clean_font() got an unexpected keyword argument 'size'"),
    (lambda c: c.clean_font(3, size_pt=3), "clean_font() got multiple values for argument 'size_pt'"),
    (lambda c: c.Z47InstallerCenter._btn_style("a"),
     "Z47InstallerCenter._btn_style() missing 2 required positional arguments: 'fg' and 'border'"),
    (lambda c: c.main(1), "main() takes 0 positional arguments but 1 was given"),
])
def test_argument_errors_read_as_pythons_own(centre, call, message):
    with pytest.raises(TypeError) as err:
        call(centre)
    assert str(err.value) == message


def test_keyword_arguments_are_accepted(centre):
    assert centre.clean_font(size_pt=12).pointSize() == 12


def test_a_failing_body_leaves_a_frame_in_the_traceback(centre):
    with pytest.raises(TypeError) as err:
        centre.clean_font("twelve")
    names = [entry.name for entry in traceback.extract_tb(err.value.__traceback__)]
    assert names[-1] == "clean_font"


def test_type_error_inside_a_slot_is_not_retried_with_fewer_arguments(qtbot, centre, monkeypatch):
    # PyQt retries a slot with fewer arguments when the call itself is refused; an error raised
    # inside the body must reach the hook as it is.
    from PyQt5.QtCore import QObject
    import sys

    seen = []
    monkeypatch.setattr(sys, "excepthook", lambda kind, value, tb: seen.append((kind, str(value))))
    sender = QObject()
    sender.objectNameChanged.connect(centre.clean_font)
    sender.setObjectName("not a size")
    assert len(seen) == 1
    kind, message = seen[0]
    assert kind is TypeError and "missing" not in message


def test_failures_are_traced_to_the_file_where_each_body_is_written(window, centre, tool_tree, record_of, boxes,
                                                                    monkeypatch, until_done):
    # A method made by a shared helper, or a callback made by one, must not report the
    # helper's file: a reader follows the traceback to the code that failed.
    import sys
    caught = []
    monkeypatch.setattr(sys, "unraisablehook", lambda info: caught.append(info.exc_value))

    def refuse(*args):
        raise RuntimeError("kutu açılamadı")
    monkeypatch.setattr(boxes, "information", refuse)
    tool_tree.logging_script("z47-delmo")
    window.install_one(record_of("z47-delmo"))  # the install's _after fails in its box
    until_done(window)
    monkeypatch.setattr(centre, "ScriptWorker", refuse)
    with pytest.raises(RuntimeError) as err:
        window._run_scripts_async([], "⏳", lambda ok, msg: None)
    caught.append(err.value)

    after, runner = [{entry.name: entry.filename for entry in traceback.extract_tb(error.__traceback__)}
                     for error in caught]
    assert after["_after"] == "install_and_removal.cpp"
    assert runner["Z47InstallerCenter._run_scripts_async"] == "background_runs.cpp"

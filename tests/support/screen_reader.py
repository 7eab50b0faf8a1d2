"""What a screen reader does with the centre, through AT-SPI (pyatspi), run in the session
of the test (tests/test_accessibility.py):

    screen_reader.py APPLICATION TOOL_INDEX

finds the application by name, reads every card of its window (name and description),
presses the "Kur ve Başlat" button of card TOOL_INDEX (from 0) through its Action interface,
waits for the result box to come into the tree, reads it and presses its button the same way,
and prints what it found as one JSON document."""
import json
import sys
import time

import pyatspi

TIMEOUT = 60.0


def wait_for(find, what):
    deadline = time.monotonic() + TIMEOUT
    while True:
        found = find()
        if found is not None:
            return found
        if time.monotonic() > deadline:
            raise SystemExit(f"no {what} in {TIMEOUT} s")
        time.sleep(0.05)


def children(node):
    return [child for child in node if child is not None]


def descendants(node, role):
    found = []
    for child in children(node):
        if child.getRole() == role:
            found.append(child)
        found.extend(descendants(child, role))
    return found


def application(name):
    return next((app for app in children(pyatspi.Registry.getDesktop(0)) if app.name == name), None)


def press(button):
    action = button.queryAction()
    [press_at] = [i for i in range(action.nActions) if action.getName(i) == "Press"]
    action.doAction(press_at)


def main():
    name, index = sys.argv[1], int(sys.argv[2])
    app = wait_for(lambda: application(name), f"application {name!r}")
    window = wait_for(lambda: next(iter(children(app)), None), "window")
    # The cards: the frames inside the window that hold the tools' buttons.
    cards = [frame for frame in descendants(window, pyatspi.ROLE_FRAME)
             if any(b.name == "Kur ve Başlat" for b in descendants(frame, pyatspi.ROLE_PUSH_BUTTON))]
    report = {"cards": [[card.name, card.description] for card in cards]}
    [install] = [b for b in descendants(cards[index], pyatspi.ROLE_PUSH_BUTTON) if b.name == "Kur ve Başlat"]
    press(install)
    box = wait_for(lambda: next((c for c in children(app) if c.getRole() in (pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT)),
                                None), "result box")
    report["box"] = {"title": box.name,
                     "texts": [label.name for label in descendants(box, pyatspi.ROLE_LABEL) if label.name],
                     "buttons": [button.name for button in descendants(box, pyatspi.ROLE_PUSH_BUTTON)]}
    [ok] = descendants(box, pyatspi.ROLE_PUSH_BUTTON)
    press(ok)
    wait_for(lambda: True if all(c.getRole() not in (pyatspi.ROLE_DIALOG, pyatspi.ROLE_ALERT) for c in children(app))
             else None, "the box closing")
    report["box_closed"] = True
    print(json.dumps(report, ensure_ascii=False))


if __name__ == "__main__":
    main()

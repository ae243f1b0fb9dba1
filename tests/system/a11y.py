#!/usr/bin/python3
"""Reads a running Fadewell's window through the accessibility bus (AT-SPI), as a screen reader does.

  a11y.py PID dump                     every object of the program: role, name, text, states, extents
  a11y.py PID text NAME                the text shown by the object whose accessible name is NAME
  a11y.py PID states NAME              the states of that object (checked, focused, ...)
  a11y.py PID value NAME               the current value of that object (a slider's position)
  a11y.py PID extents NAME             x y width height of that object on the screen
                                       (NAME may be PARENT/CHILD: the child named CHILD inside
                                       the object named PARENT, as "Deck B player/Stop")
  a11y.py PID menubar                  x y width height of the window's menu bar
  a11y.py PID windows                  the program's visible top-level windows: role and name, one a line
  a11y.py PID messages                 the text of every visible message box (one a line)
  a11y.py PID events SECONDS           count the events the program sends in that time, by source name

The program is found by its process id among the applications on the bus. Exit code 2 when the
program or the object is not there (yet).
"""
import sys
import time

import pyatspi


def find_app(pid, wait=10.0):
    deadline = time.monotonic() + wait
    while True:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                pass
        if time.monotonic() > deadline:
            print(f"no accessible application with pid {pid}", file=sys.stderr)
            sys.exit(2)
        time.sleep(0.2)


def walk(obj, depth=0):
    yield obj, depth
    try:
        count = obj.childCount
    except Exception:
        return
    for i in range(count):
        try:
            child = obj.getChildAtIndex(i)
        except Exception:
            continue
        if child is not None:
            yield from walk(child, depth + 1)


def text_of(obj):
    try:
        t = obj.queryText()
        return t.getText(0, t.characterCount)
    except NotImplementedError:
        return None
    except Exception:
        return None


def states_of(obj):
    s = obj.getState()
    return sorted(pyatspi.stateToString(x) for x in s.getStates())


def extents_of(obj):
    e = obj.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def showing(obj):
    return obj.getState().contains(pyatspi.STATE_SHOWING)


def find_named(app, name):
    if "/" in name:
        parent, _, child = name.partition("/")
        return find_named(find_named(app, parent), child)
    for obj, _ in walk(app):
        try:
            if obj.name == name and showing(obj):
                return obj
        except Exception:
            continue
    print(f"no showing object named {name!r}", file=sys.stderr)
    sys.exit(2)


def main():
    pid = int(sys.argv[1])
    cmd = sys.argv[2]
    app = find_app(pid)
    if cmd == "dump":
        for obj, depth in walk(app):
            try:
                role = obj.getRoleName()
                ext = extents_of(obj) if obj.getRole() != pyatspi.ROLE_APPLICATION else ()
                print(f"{'  ' * depth}{role} {obj.name!r} text={text_of(obj)!r} "
                      f"states={','.join(states_of(obj))} extents={ext}")
            except Exception as error:
                print(f"{'  ' * depth}? ({error})")
    elif cmd == "text":
        print(text_of(find_named(app, sys.argv[3])) or "")
    elif cmd == "states":
        print(" ".join(states_of(find_named(app, sys.argv[3]))))
    elif cmd == "value":
        print(find_named(app, sys.argv[3]).queryValue().currentValue)
    elif cmd == "extents":
        print(*extents_of(find_named(app, sys.argv[3])))
    elif cmd == "menubar":
        for obj, _ in walk(app):
            if obj.getRole() == pyatspi.ROLE_MENU_BAR and showing(obj):
                print(*extents_of(obj))
                return
        sys.exit(2)
    elif cmd == "windows":
        for i in range(app.childCount):
            w = app.getChildAtIndex(i)
            if w is not None and showing(w):
                print(f"{w.getRoleName()}\t{w.name}")
    elif cmd == "messages":
        for i in range(app.childCount):
            w = app.getChildAtIndex(i)
            if w is None or not showing(w) or w.getRole() not in (pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG):
                continue
            for obj, _ in walk(w):
                if obj.getRole() == pyatspi.ROLE_LABEL and (text_of(obj) or obj.name):
                    print(text_of(obj) or obj.name)
    elif cmd == "events":
        seconds = float(sys.argv[3])
        counts = {}

        def on_event(event):
            try:
                if event.host_application is None or event.host_application.get_process_id() != pid:
                    return
                source = event.source
                # A label without a name of its own is named by its text, which changes: key it by place.
                name = source.name if event.type != "object:property-change:accessible-name" else \
                    f"#{source.getIndexInParent()} in {source.parent.name!r}"
                key = f"{event.type}\t{source.getRoleName()} {name}"
            except Exception:
                key = f"{event.type}\t?"
            counts[key] = counts.get(key, 0) + 1

        kinds = ["object:text-changed", "object:property-change:accessible-name",
                 "object:property-change:accessible-value", "object:state-changed", "object:children-changed",
                 "object:visible-data-changed", "object:text-caret-moved", "object:bounds-changed"]
        for kind in kinds:
            pyatspi.Registry.registerEventListener(on_event, kind)
        from gi.repository import GLib
        GLib.timeout_add(int(seconds * 1000), lambda: pyatspi.Registry.stop())
        pyatspi.Registry.start()
        for key in sorted(counts):
            print(f"{counts[key]}\t{key}")
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()

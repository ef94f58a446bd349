#!/usr/bin/env python3
"""Reads a running console through AT-SPI, as a screen reader would.

Called by scripts/check-a11y.sh inside its private session (X server, D-Bus
session bus, accessibility bus, console): finds the console's beds and call
list lines, sends calls with kalvora-callsim and checks that the names follow
the calls and that the new call's and the overdue call's alerts arrive.
Writes the accessible tree to the file named by --dump.
Exit status: 0 all good, 1 a check failed.
"""
import argparse
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def pump(seconds):
    """Lets AT-SPI events arrive for this long."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        time.sleep(0.02)


def wait_for(predicate, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        pump(0.1)
    return predicate()


def find_app(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == name:
            return app
    return None


def walk(node, depth=0, out=None, limit=5000):
    out = [] if out is None else out
    if node is None or len(out) >= limit:
        return out
    try:
        role = node.get_role_name()
        name = node.get_name()
        states = node.get_state_set()
        shown = states.contains(Atspi.StateType.SHOWING)
    except GLib.Error:
        return out
    out.append((depth, role, name, shown, node))
    for i in range(node.get_child_count()):
        walk(node.get_child_at_index(i), depth + 1, out, limit)
    return out


def window_of(app):
    for i in range(app.get_child_count()):
        child = app.get_child_at_index(i)
        if child is not None and child.get_role() in (Atspi.Role.FRAME, Atspi.Role.WINDOW):
            return child
    return None


def plan_list(window):
    for i in range(window.get_child_count()):
        child = window.get_child_at_index(i)
        if child is not None and child.get_role() == Atspi.Role.LIST:
            return child
    return None


def bed_names(plan):
    return [plan.get_child_at_index(i).get_name() for i in range(plan.get_child_count())]


def shown_lines(window):
    lines = []
    for i in range(window.get_child_count()):
        child = window.get_child_at_index(i)
        if child is None or child.get_role() != Atspi.Role.LIST_ITEM:
            continue
        if child.get_state_set().contains(Atspi.StateType.SHOWING):
            lines.append(child.get_name())
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--callsim", required=True)
    parser.add_argument("--dump", required=True)
    parser.add_argument("--app", default="kalvora")
    args = parser.parse_args()

    Atspi.init()
    events = []

    def on_event(event):
        try:
            source = event.source.get_name() if event.source else ""
            role = event.source.get_role_name() if event.source else ""
        except GLib.Error:
            source, role = "", ""
        events.append((event.type, role, source, event.any_data))

    listener = Atspi.EventListener.new(on_event)
    for kind in ("object:", "window:", "focus:"):
        listener.register(kind)

    app = wait_for(lambda: find_app(args.app), 20)
    check(app is not None, "the console is on the accessibility bus as '%s'" % args.app)
    if app is None:
        return 1
    window = wait_for(lambda: window_of(app), 10)
    check(window is not None, "the console has a window")
    plan = wait_for(lambda: plan_list(window) if window else None, 10)
    check(plan is not None, "the window holds the plan as a list")
    if plan is None:
        return 1
    beds = wait_for(lambda: plan.get_child_count() > 0 and bed_names(plan), 10) or []
    check(len(beds) == 24, "the plan lists the 24 demo beds (%d)" % len(beds))
    first = "Палата 1, койка 1 (101): нет вызова"
    check(first in beds, "an idle bed says %r" % first)

    extent = plan.get_child_at_index(0).get_extents(Atspi.CoordType.SCREEN)
    check(extent.width > 0 and extent.height > 0,
          "a bed has a place on the screen (%d,%d %dx%d)" % (extent.x, extent.y, extent.width, extent.height))
    at_point = plan.get_accessible_at_point(extent.x + extent.width // 2,
                                            extent.y + extent.height // 2,
                                            Atspi.CoordType.SCREEN)
    check(at_point is not None and at_point.get_name() == beds[0],
          "the bed at its own centre is that bed")

    events.clear()
    subprocess.run([args.callsim, "send", "--responsible", "Медсестра Иванова",
                    "--name", "Палата 1, койка 2", "call", "102"], check=True,
                   stdout=subprocess.DEVNULL)

    def calling():
        names = bed_names(plan)
        return [n for n in names if n.startswith("Палата 1, койка 2 (102): вызов")]

    calling_now = wait_for(calling, 10)
    check(bool(calling_now), "the called bed says it is calling (%s)" % calling_now)
    lines = wait_for(lambda: shown_lines(window), 10)
    check(any(line.startswith("Медсестра Иванова; Палата 1, койка 2") for line in lines),
          "the call list shows the call as one line (%s)" % lines)
    timed = wait_for(lambda: [n for n in bed_names(plan)
                              if n.startswith("Палата 1, койка 2 (102): вызов, ") and "сек." in n], 5)
    check(bool(timed), "the calling bed says how long it waits (%s)" % timed)

    def alerts(text):
        # Qt's AT-SPI bridge passes QAccessible::Alert on as nothing of its
        # own: the notification object shows with its new name.
        return [e for e in events if e[2].startswith(text) and e[1] == "notification"
                and e[0] in ("object:property-change:accessible-name", "object:state-changed:showing")]

    new_call = wait_for(lambda: alerts("Новый вызов: Палата 1, койка 2 (102)"), 5)
    check(bool(new_call), "the new call's alert arrived (%s)" % (new_call[:1],))
    overdue = wait_for(lambda: alerts("Вызов просрочен: Палата 1, койка 2 (102)"), 10)
    check(bool(overdue), "the overdue call's alert arrived (%s)" % (overdue[:1],))
    check(wait_for(lambda: [n for n in bed_names(plan)
                            if n.startswith("Палата 1, койка 2 (102): вызов просрочен")], 5) != [],
          "the overdue bed says so")
    lines = shown_lines(window)
    check(any("вызов просрочен" in line for line in lines), "the overdue line says so (%s)" % lines)

    subprocess.run([args.callsim, "send", "--name", "Палата 1, койка 2",
                    "cancel", "102"], check=True, stdout=subprocess.DEVNULL)
    check(wait_for(lambda: "Палата 1, койка 2 (102): нет вызова" in bed_names(plan), 10),
          "a cancelled call leaves the bed idle again")

    with open(args.dump, "w", encoding="utf-8") as out:
        for depth, role, name, shown, _ in walk(app):
            out.write("%s%s %r%s\n" % ("  " * depth, role, name, "" if shown else " (not showing)"))
        out.write("\nevents seen:\n")
        for e in events:
            out.write("%s %s %r %r\n" % e)
    print("tree and events written to %s" % args.dump)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

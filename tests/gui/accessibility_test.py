#!/usr/bin/python3
"""The real quillop-share window read through the accessibility bus, as a screen reader reads it:
on a private Xvfb server and D-Bus session, started here. A share of many files: the dialog and
its name, the status text and its change events, the bar's value, "Annulla" pressed through its
action (exit 130, no batch left). A share that fails: the whole failure text, announced, and
"Annulla" after it (exit 1).

Usage: accessibility_test.py QUILLOP_SHARE_EXE"""
import os, shutil, subprocess, sys, tempfile, time

share_exe = sys.argv[1]
# On the disk of the build tree (not a tmpfs), so that a share of 100 files takes its time.
temp = tempfile.mkdtemp(prefix="a11y-", dir=os.getcwd())
# Xvfb picks a free display and names it once it listens. Without -noreset it resets when its
# last client leaves, and a share connecting meanwhile fails (Qt aborts): under load, one run in
# four did.
xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-noreset"],
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
display = ":" + xvfb.stdout.readline().strip()
bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                       stdout=subprocess.PIPE, text=True)
os.environ.update(DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().strip(), DISPLAY=display,
                  XDG_DATA_HOME=temp + "/data", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                  NO_AT_BRIDGE="0")

import pyatspi  # connects to the session bus named above
from gi.repository import GLib

failures = []
def check(ok, what):
    if not ok: failures.append(what)
    print(("ok   " if ok else "FAIL ") + what, flush=True)

events = []
def heard(event):
    try:
        events.append((event.type, event.source_role, event.source_name, event.any_data))
    except GLib.Error:
        pass  # from a process already gone
pyatspi.Registry.registerEventListener(heard,
    "object:property-change:accessible-name", "object:text-changed", "object:value-changed",
    "object:state-changed:showing", "object:announcement", "window:create")

def pump(seconds, until=lambda: False):
    """Runs the event loop until `until` holds (True) or `seconds` pass (False); `until` is
    asked once a round, and its answer is the one returned."""
    end = time.monotonic() + seconds
    context = GLib.MainContext.default()
    while True:
        if until(): return True
        if time.monotonic() >= end: return False
        while context.iteration(False): pass
        time.sleep(0.005)

def find(root, *roles):
    return pyatspi.findDescendant(root, lambda a: a.getRole() in roles)

def window_of(process):
    found = []
    def look():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == process.pid and app.childCount:
                found.append(app[0])
                return True
        return False
    pump(20, look)
    return found[0] if found else None

def inbox():
    path = temp + "/data/group-containers/K7QZ4MRX2P.ex.quillop.mac/quillop-share-inbox"
    return os.listdir(path) if os.path.isdir(path) else []

def start(*arguments):
    events.clear()
    return subprocess.Popen([share_exe, *arguments], cwd=temp)

def run():
    # A share long enough to be cancelled half way: 800 MB to write and flush (the sources are
    # sparse, their copies are not).
    os.makedirs(temp + "/src")
    files = []
    for i in range(100):
        files.append("%s/src/%02d.dat" % (temp, i))
        with open(files[-1], "wb") as f: f.truncate(8 << 20)
    global share
    counted = lambda: any(t.startswith("object:property-change:accessible-name")
                          and n.startswith("Preparati ") for t, r, n, d in events)
    # On a loaded machine the share may end before its process has joined the accessibility bus:
    # then it tells nothing about the window, and runs again (three times at most).
    for attempt in range(3):
        share = start(*files)
        dialog = window_of(share)
        if dialog is None or (pump(20, lambda: counted() or share.poll() is not None)
                              and share.poll() is None):
            break
        share.wait()
        shutil.rmtree(temp + "/data", ignore_errors=True)
    check(dialog is not None and dialog.getRole() == pyatspi.ROLE_DIALOG
          and dialog.name == "Invia con Movarix", "the window is a dialog named by its action")
    if dialog is not None:
        status = find(dialog, pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC)
        bar = find(dialog, pyatspi.ROLE_PROGRESS_BAR)
        button = find(dialog, pyatspi.ROLE_PUSH_BUTTON)
        check(counted() and share.poll() is None, "each status is announced as it changes")
        check(any(t.startswith("object:text-changed:insert") and str(d).startswith("Preparati ")
                  for t, r, n, d in events), "the status text's change carries the new text")
        text = status.queryText()
        # Two reads over the bus: the status may change between them, so until they agree.
        same = lambda: status.name.startswith("Preparati ") and text.getText(0, -1) == status.name
        check(pump(5, same), "the status is the label's name and text")
        check(bar.name == "Avanzamento" and 0 <= bar.queryValue().currentValue <= 1000,
              "the bar has a name and a value")
        check(button.name == "Annulla" and button.queryAction().getName(0) == "Press",
              "Annulla has its action")
        button.queryAction().doAction(0)
    try:
        code = share.wait(20)
    except subprocess.TimeoutExpired:
        share.kill(); code = share.wait()
    check(code == 130, "Annulla through the accessibility bus exits 130 (got %s)" % code)
    check(inbox() == [], "nothing is left in the inbox")

    # A failure: the path of a missing file, and the reason after it.
    missing = temp + "/src/una cartella che non c'è/" + "x" * 120 + "/fattura.pdf"
    share = start(missing)
    dialog = window_of(share)
    expected = missing + ": No such file or directory"
    status = lambda: find(dialog, pyatspi.ROLE_ALERT, pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC)
    check(pump(20, lambda: status() and status().name == expected), "the whole failure text is read")
    check(status().getRole() == pyatspi.ROLE_ALERT, "a failure is an alert")
    check(any(n == expected for t, r, n, d in events if "accessible-name" in t)
          and any(t == "object:state-changed:showing" and r == pyatspi.ROLE_ALERT
                  for t, r, n, d in events), "the failure is announced, as an alert")
    find(dialog, pyatspi.ROLE_PUSH_BUTTON).queryAction().doAction(0)
    check(share.wait(20) == 1, "Annulla after a failure exits 1")


share = None
try:
    run()
finally:
    print("\n".join("  event %s %s %r %r" % e for e in events[-8:]), flush=True)
    for process in (share, bus, xvfb):
        if process and process.poll() is None:
            process.terminate(); process.wait()
    shutil.rmtree(temp)
sys.exit(1 if failures else 0)

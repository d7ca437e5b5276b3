#!/usr/bin/env python3
# The real window on X with the accessibility bridge on, as a screen reader's user meets
# it: files opened, saved over existing ones (the replace question answered) on both
# tabs and the tabs switched, while two clients walk the whole tree and a third queries
# every event's object as a screen reader does. The application must stay up.
#
# Usage: accessibility_bridge.py VOCALITH_BINARY   (inside scripts/test-session.sh)
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
LIBRIVOX = "/usr/share/pocketsphinx/test/data/librivox"
LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


# ---- clients, each in a process of its own (pyatspi joins the bus when imported) ----

def application(pyatspi):
    for app in pyatspi.Registry.getDesktop(0):
        try:
            if app and app.name == "Vocalith":
                return app
        except Exception:
            pass
    return None


def find(node, matches, depth=0):
    if node is None or depth > 40:
        return None
    try:
        if matches(node):
            return node
        for i in range(node.childCount):
            found = find(node.getChildAtIndex(i), matches, depth + 1)
            if found:
                return found
    except Exception:
        pass
    return None


def walk(seconds):
    import pyatspi

    def touch(node, depth=0):
        if node is None or depth > 40:
            return
        try:
            node.name, node.getRoleName(), node.getState(), node.getRelationSet()
            node.parent, node.getIndexInParent(), node.getAttributes()
            for i in range(min(node.childCount, 60)):
                touch(node.getChildAtIndex(i), depth + 1)
        except Exception:
            pass

    end = time.time() + seconds
    while time.time() < end:
        touch(application(pyatspi))


def listen():
    import pyatspi

    def chain(node):
        for _ in range(40):
            if node is None:
                return
            node.name, node.getRoleName(), node.getRelationSet()
            node = node.parent

    def heard(event):
        try:
            chain(event.source)
            if event.type.startswith("object:children-changed") and event.any_data:
                chain(event.any_data)
        except Exception:
            pass

    pyatspi.Registry.registerEventListener(heard, "object", "window", "focus")
    pyatspi.Registry.start()


def drive(work):
    import pyatspi

    def wait_for(matches, what, seconds=120):
        end = time.time() + seconds
        while time.time() < end:
            node = find(application(pyatspi), matches)
            if node:
                return node
            time.sleep(0.3)
        sys.exit("not found: " + what)

    def press(name, role="push button", seconds=120):
        node = wait_for(lambda n: n.name == name and n.getRoleName() == role and
                        n.getState().contains(pyatspi.STATE_ENABLED), name, seconds)
        node.queryAction().doAction(0)
        print("pressed", name, flush=True)

    def save_over(path):
        field = wait_for(lambda n: n.getRoleName() == "text" and n.name == "File name:",
                         "the file name")
        field.queryEditableText().setTextContents(path)
        press("Save")
        press("Yes")  # the replace question
        end = time.time() + 60
        while time.time() < end and open(path, "rb").read() == b"old\n":
            time.sleep(0.2)
        if open(path, "rb").read() == b"old\n":
            sys.exit(path + " was not replaced")

    def switch_tabs(times):
        for _ in range(times):
            press("Transcribe", "page tab")
            time.sleep(0.3)
            press("Translate", "page tab")
            time.sleep(0.3)

    # Transcribe: the file given at start, transcribed, saved over talk.txt.
    press("Transcribe", "page tab")
    press("Start Transcription")
    save_over(os.path.join(work, "talk.txt"))
    switch_tabs(2)
    # Translate: the subtitles given at start, translated, saved over the old translation,
    # a few times, as the crash this guards against came at about one save in two.
    for _ in range(3):
        with open(os.path.join(work, "sub_translated.srt"), "w") as f:
            f.write("old\n")
        press("Translate")
        press("Save…")
        save_over(os.path.join(work, "sub_translated.srt"))
        switch_tabs(2)
    # The open dialog, then the tabs again. (Buttons are pressed as they answer at
    # once; a menu item would answer only once its dialog had closed.)
    press("Transcribe", "page tab")
    press("Remove file")
    press("Select MP3 File...")
    field = wait_for(lambda n: n.getRoleName() == "text" and n.name == "File name:",
                     "the open dialog")
    field.queryEditableText().setTextContents(os.path.join(work, "talk.wav"))
    press("Open")
    switch_tabs(3)


# ---- the test itself ----

class Echo(http.server.BaseHTTPRequestHandler):
    """A provider that answers each chat request with the text it was sent."""

    def do_POST(self):
        body = json.loads(self.rfile.read(int(self.headers.get("Content-Length", 0))))
        answer = json.dumps({"choices": [{"message": {
            "role": "assistant", "content": body["messages"][-1]["content"]}}]}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def log_message(self, *arguments):
        pass


def main():
    binary = os.path.abspath(sys.argv[1])
    if not (shutil.which("Xvfb") and os.path.exists(LAUNCHER)):
        print("Xvfb or the AT-SPI bus launcher is missing")
        return SKIP
    try:
        subprocess.run([sys.executable, "-c", "import gi; gi.require_version('Atspi', '2.0')"],
                       check=True)
    except subprocess.CalledProcessError:
        print("pyatspi is missing")
        return SKIP

    work = tempfile.mkdtemp(prefix="vocalith-a11y-")
    children = []
    try:
        shutil.copy(os.path.join(LIBRIVOX, "sense_and_sensibility_01_austen_64kb-0880.wav"),
                    os.path.join(work, "talk.wav"))
        with open(os.path.join(work, "sub.srt"), "w") as srt:
            srt.write("1\n00:00:01,000 --> 00:00:02,000\nHello there\n\n"
                      "2\n00:00:03,000 --> 00:00:04,000\nGood morning\n")
        for old in ("talk.txt", "sub_translated.srt"):
            with open(os.path.join(work, old), "w") as f:
                f.write("old\n")

        server = http.server.HTTPServer(("127.0.0.1", 0), Echo)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        config = os.path.join(work, "config", "Vocalith")
        os.makedirs(config)
        providers = json.dumps([{"id": "3f1c2a9e-7b7d-4c1e-9a55-0c3c9f2d8e11", "name": "Echo",
                                 "baseURL": "http://127.0.0.1:%d/v1" % server.server_port,
                                 "model": "m"}])
        with open(os.path.join(config, "Vocalith.conf"), "w") as conf:
            conf.write("[General]\ncom.vocalith.customProviders=%s\n" % json.dumps(providers))

        xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24",
                                 "-nolisten", "tcp"], stdout=subprocess.PIPE)
        children.append(xvfb)
        display = xvfb.stdout.readline().decode().strip()
        env = dict(os.environ, DISPLAY=":" + display, QT_QPA_PLATFORM="xcb",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   XDG_CONFIG_HOME=os.path.join(work, "config"))
        children.append(subprocess.Popen([LAUNCHER, "--launch-immediately"], env=env))
        time.sleep(1)
        # Under AddressSanitizer, X's keymap library trips the strict string checks, and
        # the application is ended by a signal, so there is no leak check to keep. Freed
        # memory is filled, so that reading it fails every time rather than sometimes.
        app_env = dict(env, ASAN_OPTIONS="detect_leaks=0:fast_unwind_on_malloc=0:"
                                         "max_free_fill_size=65536:free_fill_byte=190")
        app = subprocess.Popen([binary, os.path.join(work, "talk.wav"),
                                os.path.join(work, "sub.srt")], env=app_env)
        children.append(app)
        me = [sys.executable, os.path.abspath(__file__)]
        clients = [subprocess.Popen(me + ["--walk", "600"], env=env) for _ in range(2)]
        clients.append(subprocess.Popen(me + ["--listen"], env=env))
        children += clients
        driver = subprocess.Popen(me + ["--drive", work], env=env)
        children.append(driver)
        while driver.poll() is None and app.poll() is None:
            time.sleep(0.2)
        time.sleep(1)  # what the clients still ask after the last step
        if app.poll() is not None:
            print("the application ended with status", app.returncode)
            return 1
        if driver.wait() != 0:
            print("the steps did not complete")
            return 1
        print("the application stayed up")
        return 0
    finally:
        for child in reversed(children):
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(10)
                except subprocess.TimeoutExpired:
                    child.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) > 2 and sys.argv[1] == "--walk":
        walk(float(sys.argv[2]))
    elif len(sys.argv) > 1 and sys.argv[1] == "--listen":
        listen()
    elif len(sys.argv) > 2 and sys.argv[1] == "--drive":
        drive(sys.argv[2])
    else:
        sys.exit(main())

"""Helpers of the end-to-end tests: the demo operator on the operator test server, the
real player executable in its own XDG folders, window grabs and the log.

Every wait polls against a deadline; nothing sleeps to let something happen.
"""
import atexit
import fcntl
import json
import os
import re
import shutil
import signal
import sys
import subprocess
import time
import urllib.request

SOURCE_DIR = os.environ.get("NOVALINE_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
BINARY_DIR = os.environ.get("NOVALINE_BINARY_DIR", os.path.join(SOURCE_DIR, "build"))
EXECUTABLE = os.environ.get("NOVALINE_EXECUTABLE", os.path.join(BINARY_DIR, "bin", "novaline-iptv"))
TEST_ROOT = os.environ.get("NOVALINE_TEST_ROOT") or os.environ.get("TMPDIR", "/tmp")

sys.path.insert(0, os.path.join(SOURCE_DIR, "tools", "demo"))
from testpattern import find_test_pattern, grab, write_ppm  # noqa: E402,F401

BUILD_VERSION = 33555600
WINDOW_TITLE = "Novaline TV"


def poll(predicate, timeout, step=0.05):
    """Calls predicate until it returns something true or timeout seconds pass; returns
    the last result."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(step)


def media_folder():
    """Short generated clips, shared by the tests of one build folder (make-media keeps
    files that exist and writes new ones under a temporary name)."""
    folder = os.path.join(BINARY_DIR, "tests", "e2e-media")
    os.makedirs(folder, exist_ok=True)
    # make-media writes through one fixed temporary name: one writer at a time
    with open(os.path.join(folder, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        subprocess.run([os.path.join(SOURCE_DIR, "tools", "make-media"), "--duration", "10",
                        "--only", "live", folder], check=True)
    return folder


class Operator:
    """The demo operator served by tools/operator-server from a folder of its own."""

    def __init__(self, root):
        self.root = root
        os.makedirs(root, exist_ok=True)
        media = media_folder()
        for name in os.listdir(media):
            if name.endswith(".ts") and not name.startswith("."):
                dst = os.path.join(root, name)
                if not os.path.exists(dst):
                    # the server serves only real files inside its folder
                    try:
                        os.link(os.path.join(media, name), dst)
                    except OSError:
                        shutil.copyfile(os.path.join(media, name), dst)
        subprocess.run([os.path.join(SOURCE_DIR, "tools", "demo", "make-demo-operator.py"), root,
                        "--patterns", "live.ts"], check=True, stdout=subprocess.DEVNULL)
        port_file = os.path.join(root, ".port")
        self.log = open(os.path.join(root, ".server.log"), "wb")
        self.proc = subprocess.Popen(
            [os.path.join(SOURCE_DIR, "tools", "operator-server"), "--root", root, "--port", "0",
             "--port-file", port_file, "--quiet"],
            stdout=self.log, stderr=subprocess.STDOUT)
        atexit.register(self.stop)  # also when a set-up step fails half-way

        def port():
            if self.proc.poll() is not None:
                raise RuntimeError("operator server ended with %s" % self.proc.returncode)
            try:
                with open(port_file) as f:
                    text = f.read().strip()
                return int(text) if text else None
            except (OSError, ValueError):
                return None
        self.port = poll(port, 15)
        if not self.port:
            raise RuntimeError("operator server did not report its port")
        self.base = "http://127.0.0.1:%d" % self.port

    def config(self):
        with open(os.path.join(self.root, "config.json"), encoding="utf-8") as f:
            return json.load(f)

    def write_config(self, config):
        path = os.path.join(self.root, "config.json")
        tmp = path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(config, f, ensure_ascii=False)
        os.replace(tmp, path)

    def get(self, path):
        with urllib.request.urlopen(self.base + path, timeout=5) as reply:
            return json.loads(reply.read().decode("utf-8"))

    def queries(self):
        return self.get("/_queries")

    def requests(self):
        return self.get("/_requests")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()


class Profile:
    """HOME and XDG folders of one player user; the player's settings, cache and log."""

    def __init__(self, root):
        self.root = root
        self.env = dict(os.environ)
        for var, sub in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_CACHE_HOME", "cache"),
                         ("XDG_DATA_HOME", "data"), ("XDG_STATE_HOME", "state")):
            path = os.path.join(root, sub)
            os.makedirs(path, exist_ok=True)
            self.env[var] = path
        self.cache = os.path.join(self.env["XDG_CACHE_HOME"], "Novaline", "IPTV")
        self.settings_file = os.path.join(self.env["XDG_CONFIG_HOME"], "Novaline", "IPTV.conf")
        self.log_file = os.path.join(self.cache, "log.txt")

    def log(self):
        try:
            with open(self.log_file, encoding="utf-8", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def settings(self):
        """The [General] keys of the settings file as raw strings."""
        values = {}
        try:
            with open(self.settings_file, encoding="utf-8") as f:
                section = None
                for line in f:
                    line = line.rstrip("\n")
                    if line.startswith("[") and line.endswith("]"):
                        section = line[1:-1]
                    elif "=" in line and section == "General":
                        key, value = line.split("=", 1)
                        values[key] = value
        except FileNotFoundError:
            pass
        return values

    def set_setting(self, key, value):
        """Changes (or adds) one [General] key of the settings file while no player runs."""
        try:
            with open(self.settings_file, encoding="utf-8") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            os.makedirs(os.path.dirname(self.settings_file), exist_ok=True)
            lines = []
        out, section, done = [], None, False
        for line in lines:
            if line.startswith("[") and line.endswith("]"):
                if section == "General" and not done:
                    out.append("%s=%s" % (key, value))
                    done = True
                section = line[1:-1]
            elif section == "General" and line.split("=", 1)[0] == key:
                if not done:
                    out.append("%s=%s" % (key, value))
                    done = True
                continue
            out.append(line)
        if not done:
            if section != "General":
                out.append("[General]")
            out.append("%s=%s" % (key, value))
        with open(self.settings_file + ".tmp", "w", encoding="utf-8") as f:
            f.write("\n".join(out) + "\n")
        os.replace(self.settings_file + ".tmp", self.settings_file)

    def keep_picture_in_view(self, corner="@Rect(1200 520 602 482)"):
        """Settings for grabbing the picture: the playlist panel closed (it would cover the
        right corners), and a corner of the screen of its own (without a window manager
        windows pile up at the same places; other GUI tests of the run may show theirs)."""
        self.set_setting("playerPlaylistState", "false")
        self.set_setting("iptvWindow", corner)


def world(name, corner="@Rect(1200 520 602 482)"):
    """The demo operator and a user profile of their own under the test root, the
    profile set to keep the picture in view: (operator, profile)."""
    root = os.path.join(TEST_ROOT, name)
    operator = Operator(os.path.join(root, "operator"))
    profile = Profile(os.path.join(root, "user"))
    profile.keep_picture_in_view(corner)
    return operator, profile


class Player:
    """One run of the real executable."""

    def __init__(self, profile, server_base, args=(), extra_env=None):
        self.profile = profile
        env = dict(profile.env)
        env["NOVALINE_CONFIG_SERVER"] = server_base
        env.update(extra_env or {})
        # Under a heavy load (the package build runs beside these tests) the shared X
        # server has been seen to refuse a connection now and then: a start that ends at
        # once for that reason is tried again, and only that.
        for attempt in range(3):
            self.output_path = os.path.join(profile.root, "player-%d.out" % time.monotonic_ns())
            self.output = open(self.output_path, "wb")
            self.started = time.monotonic()
            self.proc = subprocess.Popen([EXECUTABLE] + list(args), env=env, stdout=self.output,
                                         stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
            if attempt == 2 or not self._display_refused():
                break
            self.output.close()
            time.sleep(1)

    def _display_refused(self):
        try:
            self.proc.wait(1.5)
        except subprocess.TimeoutExpired:
            return False
        return "could not connect to display" in self.console()

    def window(self):
        """The id of the mapped player window of this process, or None."""
        try:
            out = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.proc.pid),
                                  "--name", "^%s$" % WINDOW_TITLE],
                                 capture_output=True, text=True, timeout=5).stdout.split()
        except subprocess.TimeoutExpired:
            return None
        return int(out[0]) if out else None

    def cpu_seconds(self):
        """User and system CPU time the player has used so far."""
        try:
            with open("/proc/%d/stat" % self.proc.pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except (OSError, IndexError, ValueError):
            return -1.0

    def wait(self, timeout):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def terminate(self, timeout=10):
        """Asks the player to quit (it handles SIGTERM like closing the window); returns the
        exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        rc = self.wait(timeout)
        if rc is None:
            self.proc.kill()
            self.proc.wait()
        self.output.close()
        return rc

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.output.close()

    def console(self):
        with open(self.output_path, "rb") as f:
            return f.read().decode("utf-8", "replace")


def raise_window(window):
    subprocess.run(["xdotool", "windowraise", str(window)], capture_output=True, timeout=5)


def kill_quietly(proc):
    if proc and proc.poll() is None:
        proc.kill()
        proc.wait()


def rmtree(path):
    shutil.rmtree(path, ignore_errors=True)

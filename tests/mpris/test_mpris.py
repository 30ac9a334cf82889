#!/usr/bin/env python3
"""The player on the session bus, driven by a real client (gdbus processes) like a
desktop's media controls: the name, play/pause, next, metadata with the guide's current
programme and its change signal, volume, opening a file, seeking it, media keys, a
second copy, quitting. Runs on a bus of its own (dbus-run-session)."""
import json
import os
import shutil
import subprocess
import sys
import time
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import e2elib  # noqa: E402
import gvariant  # noqa: E402

NAME = "org.mpris.MediaPlayer2.novaline_iptv"
OBJECT = "/org/mpris/MediaPlayer2"
ROOT = "org.mpris.MediaPlayer2"
PLAYER = "org.mpris.MediaPlayer2.Player"


def gdbus(method, *args, dest=NAME, path=OBJECT):
    """Calls a method; returns the parsed reply tuple. Raises on a D-Bus error."""
    out = subprocess.run(["gdbus", "call", "--session", "--dest", dest, "--object-path", path,
                          "--method", method] + [str(a) for a in args],
                         capture_output=True, text=True, timeout=10)
    if out.returncode != 0:
        raise RuntimeError(out.stderr.strip())
    return gvariant.parse(out.stdout)


def prop(interface, name):
    return gdbus("org.freedesktop.DBus.Properties.Get", interface, name)[0]


def set_prop(interface, name, gvariant_text):
    gdbus("org.freedesktop.DBus.Properties.Set", interface, name, gvariant_text)


def call(method, *args, interface=PLAYER):
    return gdbus(interface + "." + method, *args)


def name_owner_pid():
    try:
        return gdbus("org.freedesktop.DBus.GetConnectionUnixProcessID", NAME,
                     dest="org.freedesktop.DBus", path="/org/freedesktop/DBus")[0]
    except RuntimeError:
        return None


def current_programme(guide, key, now):
    """Title of the guide entry on at `now` (the last one started before it)."""
    on = [p for p in guide.get(key, []) if p["time"] <= now]
    return max(on, key=lambda p: p["time"])["title"] if on else None


class MprisTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.operator, cls.profile = e2elib.world("mpris", corner="@Rect(40 40 602 482)")
        config = cls.operator.config()
        cls.channels = [(c["title"], c["groupTitle"], c.get("jtv", "")) for c in config["iptv"]]
        with open(os.path.join(cls.operator.root, "jtv.json"), encoding="utf-8") as f:
            cls.guide = json.load(f)
        # A local file of an accepted kind, outside the operator's folder.
        cls.clip = os.path.join(e2elib.TEST_ROOT, "mpris", "clip.ts")
        shutil.copyfile(os.path.join(e2elib.media_folder(), "live.ts"), cls.clip)
        cls.player = e2elib.Player(cls.profile, cls.operator.base)
        if not e2elib.poll(lambda: name_owner_pid() == cls.player.proc.pid, 30, step=0.2):
            cls.player.kill()
            raise AssertionError("the player never took %s:\n%s" % (NAME, cls.player.console()))

    @classmethod
    def tearDownClass(cls):
        # Quit from the bus ends the player the way closing the window does.
        try:
            call("Quit", interface=ROOT)
            rc = cls.player.wait(15)
        except RuntimeError as e:
            rc = str(e)
        cls.player.kill()
        cls.operator.stop()
        if rc != 0 or "Closing iptv player" not in cls.profile.log():
            raise AssertionError("Quit did not end the player cleanly (%s):\n%s" % (rc, cls.player.console()[-2000:]))

    def alive(self):
        if self.player.proc.poll() is not None:
            raise AssertionError("player ended with %s:\n%s" % (self.player.proc.returncode,
                                                                 self.player.console()))
        return True

    def wait_for(self, what, predicate, timeout=20):
        last = {}

        def probe():
            self.alive()
            last["value"] = predicate()
            return last["value"]
        self.assertTrue(e2elib.poll(probe, timeout, step=0.2), "%s; log:\n%s" % (what, self.profile.log()[-3000:]))
        return last["value"]

    def metadata(self):
        return prop(PLAYER, "Metadata")

    def status(self):
        return prop(PLAYER, "PlaybackStatus")

    def on_channels(self):
        """Back to the channel list (an iptvurl link), the first channel playing."""
        call("OpenUri", "iptvurl://127.0.0.1:%d/live/live.ts" % self.operator.port)
        titles = [c[0] for c in self.channels]
        self.wait_for("a channel plays", lambda: self.metadata().get("xesam:title") in titles
                      and self.status() == "Playing", 30)
        return self.metadata()

    def test_name_belongs_to_the_first_copy_only(self):
        self.assertEqual(name_owner_pid(), self.player.proc.pid)
        second = e2elib.Player(self.profile, self.operator.base)
        self.assertEqual(second.wait(30), 0, second.console())
        second.kill()
        self.assertEqual(name_owner_pid(), self.player.proc.pid)
        self.alive()

    def test_application_properties(self):
        expected = {
            "Identity": "Novaline IPTV",
            "DesktopEntry": "tv.novaline.iptv",
            "CanQuit": True,
            "CanRaise": True,
            "HasTrackList": False,
            "SupportedUriSchemes": ["file", "iptvurl", "iptvvideo"],
        }
        for name, value in expected.items():
            with self.subTest(name=name):
                self.assertEqual(prop(ROOT, name), value)
        types = prop(ROOT, "SupportedMimeTypes")
        for t in ("video/mp4", "video/x-matroska", "video/mp2t", "x-scheme-handler/iptvurl",
                  "x-scheme-handler/iptvvideo"):
            self.assertIn(t, types)
        # The desktop entry built beside the player announces the same types.
        desktop = os.path.join(e2elib.BINARY_DIR, "packaging", "tv.novaline.iptv.desktop")
        with open(desktop, encoding="utf-8") as f:
            line = [l for l in f if l.startswith("MimeType=")][0]
        self.assertEqual(line.strip()[len("MimeType="):].rstrip(";").split(";"), types)
        call("Raise", interface=ROOT)
        self.alive()

    def test_channel_metadata_programme_and_next(self):
        first = self.on_channels()
        titles = [c[0] for c in self.channels]
        index = titles.index(first["xesam:title"])
        title, group, key = self.channels[index]
        self.assertEqual(first.get("xesam:album"), group)
        # The programme on now, or the one before when a programme began meanwhile.
        now = time.time()
        candidates = {current_programme(self.guide, key, now), current_programme(self.guide, key, now - 30)}
        self.assertIn(first.get("xesam:artist", [None])[0], candidates)
        self.assertNotIn("mpris:length", first)
        self.assertTrue(first["mpris:trackid"].startswith("/") and not first["mpris:trackid"].startswith("/org/mpris"))
        self.assertFalse(prop(PLAYER, "CanSeek"), "a live channel cannot seek")
        for name in ("CanGoNext", "CanGoPrevious", "CanPlay", "CanPause", "CanControl"):
            self.assertTrue(prop(PLAYER, name), name)

        log = os.path.join(self.profile.root, "monitor-%d.txt" % time.monotonic_ns())
        with open(log, "w") as out:
            monitor = subprocess.Popen(["gdbus", "monitor", "--session", "--dest", NAME],
                                       stdout=out, stderr=subprocess.STDOUT)
        try:
            # The monitor subscribes before it prints anything.
            self.wait_for("the monitor runs", lambda: os.path.getsize(log) > 0, 10)
            call("Next")
            next_title, next_group, next_key = self.channels[(index + 1) % len(self.channels)]
            md = self.wait_for("Next plays the next channel",
                               lambda: (lambda m: m if m.get("xesam:title") == next_title else None)(self.metadata()))
            self.assertEqual(md.get("xesam:album"), next_group)
            self.assertNotEqual(md["mpris:trackid"], first["mpris:trackid"])

            def announced():
                with open(log, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                return "PropertiesChanged" in text and next_title in text
            self.wait_for("PropertiesChanged with the new title", announced, 10)
        finally:
            monitor.terminate()
            monitor.wait()
        now = time.time()
        programme = md.get("xesam:artist", [None])[0]
        self.assertIn(programme, {current_programme(self.guide, next_key, now),
                                  current_programme(self.guide, next_key, now - 30)})

    def test_play_pause_and_media_keys(self):
        self.on_channels()
        window = self.wait_for("the window", self.player.window)
        steps = [
            (lambda: call("PlayPause"), "Paused"),
            (lambda: call("PlayPause"), "Playing"),
            (lambda: call("Pause"), "Paused"),
            (lambda: call("Play"), "Playing"),
            (lambda: subprocess.run(["xdotool", "key", "--window", str(window), "XF86AudioPlay"], check=True),
             "Paused"),
            (lambda: subprocess.run(["xdotool", "key", "--window", str(window), "XF86AudioPlay"], check=True),
             "Playing"),
            (lambda: call("Stop"), "Stopped"),
            (lambda: call("Play"), "Playing"),
        ]
        for i, (action, expected) in enumerate(steps):
            with self.subTest(step=i, expected=expected):
                action()
                self.wait_for("status %s after step %d" % (expected, i), lambda: self.status() == expected, 15)

    def test_volume_round_trip(self):
        table = [("0.5", 0.5, 50), ("1.5", 1.5, 150), ("0.0", 0.0, 0), ("3.0", 2.0, 200), ("1.0", 1.0, 100)]
        for text, expected, stored in table:
            with self.subTest(volume=text):
                set_prop(PLAYER, "Volume", "<%s>" % text)
                self.wait_for("volume %s" % text, lambda: abs(prop(PLAYER, "Volume") - expected) < 0.006, 10)
                # It went through the scene's slider, which stores the choice.
                self.wait_for("stored volume %d" % stored,
                              lambda: self.profile.settings().get("playerVolume") == str(stored), 10)

    def test_open_uri_plays_a_file_and_seeks(self):
        url = "file://" + urllib.parse.quote(self.clip)
        call("OpenUri", url)
        md = self.wait_for("the file plays", lambda: (lambda m: m if m.get("xesam:url") == url
                                                      and m.get("mpris:length", 0) > 0 else None)(self.metadata()), 30)
        self.wait_for("playing", lambda: self.status() == "Playing")
        self.assertEqual(md.get("xesam:title"), "clip.ts")
        self.assertNotIn("xesam:artist", md)
        self.wait_for("a file can seek", lambda: prop(PLAYER, "CanSeek"))
        length = md["mpris:length"]
        self.assertGreater(length, 5 * 10**6)
        target = int(length * 0.7)
        call("SetPosition", "objectpath '%s'" % md["mpris:trackid"], "int64 %d" % target)
        self.wait_for("position after SetPosition", lambda: prop(PLAYER, "Position") >= target - 10**6, 10)
        # A stale track id is ignored: the position never goes back.
        call("SetPosition", "objectpath '/tv/novaline/iptv/track/0'", "int64 0")
        self.assertFalse(e2elib.poll(lambda: prop(PLAYER, "Position") < target - 10**6, 1.5, step=0.1),
                         "a stale track id moved the position")
        with self.assertRaises(RuntimeError):
            call("OpenUri", "https://example.invalid/a.mp4")
        self.alive()


if __name__ == "__main__":
    unittest.main(verbosity=2)

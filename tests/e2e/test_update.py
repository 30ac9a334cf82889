#!/usr/bin/env python3
"""End to end: an update offered by the operator, downloaded and unpacked by one run of
the real player, and handed over to at the next start.

The archive holds "update.exe", here a shell script with the executable bit that
records each run (and its argument count) in the file named by an environment
variable the player passes on.
"""
import hashlib
import io
import os
import shutil
import stat
import sys
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2elib  # noqa: E402

NEWER = 0x02000491  # 2.0.4 with build byte 0x91: above this build, accepted without "betaUpdate"
INSTALLER = b"""#!/bin/sh
echo "ran args=$# pid=$$" >> "$NOVALINE_E2E_UPDATE_MARKER"
"""


def make_archive():
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        info = zipfile.ZipInfo("update.exe", date_time=(2026, 12, 1, 12, 0, 0))
        info.create_system = 3  # Unix: keeps the mode bits below
        info.external_attr = (stat.S_IFREG | 0o755) << 16
        z.writestr(info, INSTALLER)
        z.writestr("payload/readme.txt", "the new build\n")
    return buffer.getvalue()


class UpdateTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = os.path.join(e2elib.TEST_ROOT, "update")
        cls.operator = e2elib.Operator(os.path.join(cls.root, "operator"))
        cls.archive = make_archive()
        with open(os.path.join(cls.operator.root, "update.zip"), "wb") as f:
            f.write(cls.archive)
        cls.base_config = cls.operator.config()
        # The updates need no picture: one channel keeps the runs light.
        cls.base_config["iptv"] = cls.base_config["iptv"][:1]
        cls.marker = os.path.join(cls.root, "installer-runs.txt")

    @classmethod
    def tearDownClass(cls):
        cls.operator.stop()

    def offer(self, **extra):
        config = dict(self.base_config)
        entry = {"version": NEWER, "os": "linux", "url": "{{BASE}}/media/update.zip"}
        entry.update(extra)
        # a rejected candidate first: an older build and another platform
        config["iptv_updates"] = [
            {"version": e2elib.BUILD_VERSION, "os": "linux", "url": "{{BASE}}/media/nothing.zip"},
            {"version": NEWER + 1, "os": "win64", "url": "{{BASE}}/media/nothing.zip"},
            entry,
        ]
        self.operator.write_config(config)

    def offer_nothing(self):
        config = dict(self.base_config)
        config["iptv_updates"] = []
        self.operator.write_config(config)

    def start(self, profile):
        return e2elib.Player(profile, self.operator.base,
                             extra_env={"NOVALINE_E2E_UPDATE_MARKER": self.marker})

    def installer_runs(self):
        try:
            with open(self.marker) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def config_queries(self):
        return len(self.operator.queries())

    def run_normally(self, profile):
        """A start that goes past the hand-off: it asks for the configuration; then quits."""
        before = self.config_queries()
        player = self.start(profile)
        self.addCleanup(player.kill)
        asked = e2elib.poll(lambda: self.config_queries() > before or player.proc.poll() is not None, 30)
        self.assertIsNone(player.proc.poll(), "the player ended early:\n" + player.console())
        self.assertTrue(asked, "no configuration request:\n" + player.console())
        return player

    def quit(self, player, profile):
        self.assertEqual(player.terminate(), 0, player.console())
        log = profile.log()
        self.assertGreater(log.rfind("Closing iptv player"), log.rfind("Starting IPTV"), log)

    def run_handoff(self, profile):
        """A start that must hand over to the installer: status 0, no window, no fetch."""
        before = self.config_queries()
        player = self.start(profile)
        self.addCleanup(player.kill)
        windows = []

        def ended():
            w = player.window()
            if w:
                windows.append(w)
            return player.proc.poll() is not None
        self.assertTrue(e2elib.poll(ended, 30), "the player did not end for the update")
        self.assertEqual(player.proc.returncode, 0, player.console())
        player.output.close()
        self.assertEqual(windows, [], "a window was shown before the hand-off")
        self.assertEqual(self.config_queries(), before, "the hand-off run asked for the configuration")
        self.assertTrue(profile.log().rstrip().endswith("Exiting for update"), profile.log())
        return player

    def test_download_handoff_and_records(self):
        profile = e2elib.Profile(os.path.join(self.root, "user"))
        installer = os.path.join(profile.cache, "update", "update.exe")

        # First run: the offered build is downloaded, unpacked and recorded.
        self.offer()
        player = self.run_normally(profile)
        # state first, then path: two writes
        recorded = e2elib.poll(lambda: profile.settings().get("updatePath") == installer, 30)
        self.assertTrue(recorded, "no update recorded; log:\n" + profile.log())
        self.assertEqual(profile.settings().get("updateState"), "extracted")
        self.assertEqual(profile.settings().get("version"), str(e2elib.BUILD_VERSION))
        self.quit(player, profile)
        with open(installer, "rb") as f:
            self.assertEqual(f.read(), INSTALLER)
        mode = os.stat(installer).st_mode
        self.assertTrue(mode & stat.S_IXUSR, "the unpacker dropped the executable bit: %o" % mode)
        self.assertFalse(mode & (stat.S_ISUID | stat.S_ISGID))
        self.assertTrue(os.path.isfile(os.path.join(profile.cache, "update", "payload", "readme.txt")))
        self.assertIn("Update available:", profile.log())
        self.assertEqual(self.installer_runs(), [])
        fetched = [r for r in self.operator.requests() if r["path"] == "/media/update.zip"]
        self.assertEqual(len(fetched), 1, "one download per offered build")

        # Second run: the installer starts, the player ends at once with status 0.
        self.run_handoff(profile)
        self.assertTrue(e2elib.poll(lambda: len(self.installer_runs()) == 1, 10), "the installer did not run")
        self.assertTrue(self.installer_runs()[0].startswith("ran args=0 "), self.installer_runs())

        # Third run: the single-instance segment is free, so it is a first copy again
        # (a later copy would forward to a first one and never reach the hand-off).
        self.run_handoff(profile)
        self.assertTrue(e2elib.poll(lambda: len(self.installer_runs()) == 2, 10), "the installer did not run again")
        self.assertNotIn("Another copy launched", profile.log())
        self.assertEqual(profile.log().count("Exiting for update"), 2)

        # "Extracted" in another case is no ready update: a normal start.
        self.offer_nothing()
        profile.set_setting("updateState", "Extracted")
        player = self.run_normally(profile)
        self.quit(player, profile)
        self.assertEqual(len(self.installer_runs()), 2)
        self.assertEqual(profile.log().count("Exiting for update"), 2)
        self.assertEqual(profile.settings().get("updateState"), "Extracted")
        self.assertTrue(os.path.exists(installer))

        # An installer that left the version as it was has had its two tries: the next
        # start gives the update up, starts normally and never fetches it again.
        profile.set_setting("updateState", "extracted")
        self.offer()
        player = self.run_normally(profile)
        gave_up = e2elib.poll(lambda: "giving it up" in profile.log(), 10)
        self.assertTrue(gave_up, profile.log())
        self.assertTrue(e2elib.poll(lambda: "updateState" not in profile.settings(), 10), profile.settings())
        self.quit(player, profile)
        self.assertEqual(len(self.installer_runs()), 2)
        self.assertFalse(os.path.exists(installer))
        self.assertEqual(profile.settings().get("updateRefusedVersion"), str(NEWER))
        player = self.run_normally(profile)
        self.quit(player, profile)
        fetched = [r for r in self.operator.requests() if r["path"] == "/media/update.zip"]
        self.assertEqual(len(fetched), 1, "a given-up build was fetched again")
        self.assertEqual(len(self.installer_runs()), 2)

        # A changed "version": the records and the update cache go, whatever is in them.
        profile.set_setting("updateState", "extracted")
        profile.set_setting("lastUpdate", "planted")
        profile.set_setting("version", str(e2elib.BUILD_VERSION - 1))
        for leftover in ("update-download", "update.staging-x1", "update.old-x2"):
            os.makedirs(os.path.join(profile.cache, leftover), exist_ok=True)
            with open(os.path.join(profile.cache, leftover, "f"), "w") as f:
                f.write("x")
        player = self.run_normally(profile)
        self.quit(player, profile)
        settings = profile.settings()
        self.assertEqual(settings.get("version"), str(e2elib.BUILD_VERSION))
        self.assertNotIn("updateState", settings)
        self.assertNotIn("updatePath", settings)
        self.assertNotEqual(settings.get("lastUpdate"), "planted")
        self.assertEqual(sorted(n for n in os.listdir(profile.cache) if n.startswith("update")), [])
        self.assertTrue(os.path.exists(profile.log_file), "the log stays")
        self.assertEqual(len(self.installer_runs()), 2)

    def test_wrong_checksum_records_nothing(self):
        profile = e2elib.Profile(os.path.join(self.root, "user-sha"))
        good = hashlib.sha256(self.archive).hexdigest()
        wrong = good[:-1] + ("0" if good[-1] != "0" else "1")
        self.offer(sha256=wrong)
        player = self.run_normally(profile)

        def refused():
            return any(line.find("Critical:") >= 0 and "checksum" in line
                       for line in profile.log().splitlines())
        self.assertTrue(e2elib.poll(refused, 30), "no critical checksum line; log:\n" + profile.log())
        self.quit(player, profile)
        settings = profile.settings()
        self.assertNotIn("updateState", settings)
        self.assertNotIn("updatePath", settings)
        self.assertFalse(os.path.exists(os.path.join(profile.cache, "update")))

        # The right checksum is accepted.
        self.offer(sha256=good.upper())
        player = self.run_normally(profile)
        recorded = e2elib.poll(lambda: profile.settings().get("updatePath", "").endswith("/update.exe"), 30)
        self.assertTrue(recorded, "the right checksum was refused; log:\n" + profile.log())
        self.quit(player, profile)


if __name__ == "__main__":
    unittest.main(verbosity=2)

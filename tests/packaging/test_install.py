#!/usr/bin/env python3
"""`cmake --install` of this build into a temporary prefix: the files and their
validators, the installed player shows a channel without the build folder, the desktop
entry opens a local file through the desktop's launcher, and this build (self-update on)
fetches an offered update."""
import os
import shutil
import subprocess
import sys
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pkglib  # noqa: E402
from pkglib import e2elib  # noqa: E402


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = os.path.join(e2elib.TEST_ROOT, "install")
        cls.prefix = os.path.join(cls.root, "prefix")
        out = subprocess.run(["cmake", "--install", e2elib.BINARY_DIR, "--prefix", cls.prefix],
                             capture_output=True, text=True, timeout=120)
        if out.returncode != 0:
            raise AssertionError("cmake --install failed:\n" + out.stdout + out.stderr)
        cls.executable = os.path.join(cls.prefix, "bin", "novaline-iptv")

    def test_installed_files(self):
        pkglib.check_installed_tree(self, self.prefix)
        # Nothing of the build folder is needed at run time.
        dyn = subprocess.run(["readelf", "-d", self.executable], capture_output=True, text=True).stdout
        self.assertNotIn(e2elib.BINARY_DIR, dyn)
        self.assertNotIn("RPATH", dyn)

    def test_installed_player_plays_and_fetches_the_offered_update(self):
        operator, profile, _ = pkglib.play_and_check_picture(self, self.executable, os.path.join(self.root, "run"))
        self.assertTrue(e2elib.poll(lambda: pkglib.update_fetched(operator), 20, step=0.2),
                        "this build did not fetch the offered update; log:\n" + profile.log()[-2000:])
        self.assertNotIn("Self-update is off", profile.log())

    def test_desktop_entry_opens_a_file(self):
        # The desktop's own launcher reads Exec=... %U and hands the file over as a URL.
        clip = os.path.join(self.root, "a clip.ts")
        shutil.copyfile(os.path.join(e2elib.media_folder(), "live.ts"), clip)
        desktop = os.path.join(self.prefix, "share", "applications", pkglib.APP_ID + ".desktop")
        env_path = os.path.join(self.prefix, "bin") + os.pathsep + os.environ.get("PATH", "")
        launch = ["env", "PATH=" + env_path, "gio", "launch", desktop, "file://" + urllib.parse.quote(clip)]
        _, profile, _ = pkglib.play_and_check_picture(self, self.executable, os.path.join(self.root, "launch"),
                                                      launch=launch)
        self.assertIn("a clip.ts", urllib.parse.unquote(profile.log()))


if __name__ == "__main__":
    unittest.main(verbosity=2)

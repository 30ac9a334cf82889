#!/usr/bin/env python3
"""The Debian package built by tools/package.sh (the fixture test builds it): its
control data and contents, and the player run from the extracted package, which shows
a channel and only logs an offered update (self-update off)."""
import glob
import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pkglib  # noqa: E402
from pkglib import e2elib  # noqa: E402

DEB_DIR = os.environ.get("NOVALINE_DEB_DIR", os.path.join(e2elib.BINARY_DIR, "deb-build", "package"))


def dpkg_deb(*args):
    return subprocess.run(["dpkg-deb"] + list(args), capture_output=True, text=True, check=True).stdout


class DebTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        debs = glob.glob(os.path.join(DEB_DIR, "novaline-iptv_*.deb"))
        if len(debs) != 1:
            raise AssertionError("expected one package in %s, found %s" % (DEB_DIR, debs))
        cls.deb = debs[0]
        cls.root = os.path.join(e2elib.TEST_ROOT, "deb")
        cls.tree = os.path.join(cls.root, "tree")
        os.makedirs(cls.tree)
        dpkg_deb("-x", cls.deb, cls.tree)

    def test_control(self):
        self.assertRegex(os.path.basename(self.deb), r"^novaline-iptv_2\.0\.4_amd64\.deb$")
        info = dpkg_deb("--field", self.deb)
        fields = dict(re.findall(r"^([A-Za-z-]+): (.*)$", info, re.M))
        self.assertEqual(fields["Package"], "novaline-iptv")
        self.assertEqual(fields["Version"], "2.0.4")
        self.assertEqual(fields["Architecture"], "amd64")
        depends = [d.strip().split(" ")[0] for d in fields["Depends"].split(",")]
        # Linked libraries (found by dpkg-shlibdeps) and run-time loaded modules.
        for package in ("libvlc5", "libqt5quick5", "libqt5dbus5", "libc6", "vlc-plugin-base",
                        "qml-module-qtquick2", "qml-module-qtquick-controls", "qml-module-qtgraphicaleffects"):
            with self.subTest(depends=package):
                self.assertIn(package, depends)
        # The control file as dpkg shows it.
        self.assertIn("Description: IPTV and video player", dpkg_deb("--info", self.deb))

    def test_contents(self):
        listing = dpkg_deb("--contents", self.deb)
        paths = {line.split()[-1].lstrip(".") for line in listing.splitlines()}
        for rel in pkglib.EXPECTED_FILES:
            with self.subTest(file=rel):
                self.assertIn("/usr/" + rel, paths)
        # Nothing for Windows, nothing of the build or the tests.
        for path in paths:
            self.assertFalse(re.search(r"\.(dll|exe|a|h)$|wintools|tst_", path), path)
        pkglib.check_installed_tree(self, os.path.join(self.tree, "usr"))

    def test_extracted_player_plays_and_only_logs_the_offer(self):
        executable = os.path.join(self.tree, "usr", "bin", "novaline-iptv")
        operator, profile, _ = pkglib.play_and_check_picture(self, executable, os.path.join(self.root, "run"))
        self.assertTrue(e2elib.poll(lambda: "Self-update is off" in profile.log(), 20, step=0.2),
                        "the offered update was not logged; log:\n" + profile.log()[-2000:])
        # The check logs and returns: no download can start after the line.
        self.assertFalse(pkglib.update_fetched(operator), "the package fetched an update")


if __name__ == "__main__":
    unittest.main(verbosity=2)

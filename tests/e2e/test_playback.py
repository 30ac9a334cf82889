#!/usr/bin/env python3
"""End to end: the real player against the demo operator on the test run's X display.

A channel must be playing within a few seconds of the start: the grabbed window shows
the generated test pattern (red, green, blue and white corners in their places) inside
the window and the picture moves; the log shows the channel chosen and the stream
opened. Then the player quits cleanly on SIGTERM.
"""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2elib  # noqa: E402

# How soon after the start the picture must show.
PLAY_SECONDS = float(os.environ.get("NOVALINE_E2E_PLAY_SECONDS", "5"))


class PlaybackTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.operator, cls.profile = e2elib.world("playback")
        cls.shots = os.environ.get("NOVALINE_E2E_SHOTS")

    @classmethod
    def tearDownClass(cls):
        cls.operator.stop()

    def save(self, name, image):
        if self.shots and image:
            os.makedirs(self.shots, exist_ok=True)
            e2elib.write_ppm(os.path.join(self.shots, name + ".ppm"), image)

    def test_channel_plays_then_quits(self):
        player = e2elib.Player(self.profile, self.operator.base)
        self.addCleanup(player.kill)

        state = {"image": None, "window": None, "found": None}

        def showing():
            if player.proc.poll() is not None:
                raise AssertionError("player ended with %s:\n%s" % (player.proc.returncode, player.console()))
            # Grabs cost CPU the starting player needs: none before the channel starts.
            if "Current item changed" not in self.profile.log():
                return None
            if not state["window"]:
                state["window"] = player.window()
                # Grabs cost CPU the starting player needs: none before the channel starts.
            if "Current item changed" not in self.profile.log():
                return None
            if not state["window"]:
                    return None
            e2elib.raise_window(state["window"])
            image = e2elib.grab(state["window"])
            if image:
                state["image"] = image
                state["found"] = e2elib.find_test_pattern(image)
            return state["found"]

        # Wait longer than the limit so that a failure says how late the picture was.
        found = e2elib.poll(showing, max(PLAY_SECONDS, 45), step=0.2)
        elapsed = time.monotonic() - player.started
        cpu = player.cpu_seconds()
        self.save("first-frame", state["image"])
        self.assertTrue(found, "no test pattern in the window; log:\n" + self.profile.log())
        print("picture after %.2f s (player CPU %.2f s)" % (elapsed, cpu), file=sys.stderr)
        self.assertLessEqual(elapsed, PLAY_SECONDS, "the picture showed only after %.1f s" % elapsed)

        # The picture lies inside the window, not cut off by its edges.
        w, h, _ = state["image"]
        left, top, pw, ph = found["video"]
        self.assertGreaterEqual(left, -2)
        self.assertGreaterEqual(top, -2)
        self.assertLessEqual(left + pw, w + 2)
        self.assertLessEqual(top + ph, h + 2)
        self.assertGreater(pw * ph, w * h * 0.3, "the picture fills too little of the window")

        # It moves: the pattern's moving middle changes between two grabs.
        cx, cy = int(left + pw / 2), int(top + ph / 2)
        half = int(min(pw, ph) / 5)

        def middle(image):
            iw, _, px = image
            rows = []
            for y in range(cy - half, cy + half, 4):
                start = (y * iw + cx - half) * 3
                rows.append(px[start:start + half * 6])
            return b"".join(rows)

        first = middle(state["image"])

        def moved():
            image = e2elib.grab(state["window"])
            return image and e2elib.find_test_pattern(image) and middle(image) != first
        self.assertTrue(e2elib.poll(moved, 10, step=0.1), "the picture does not move")

        log = self.profile.log()
        self.assertIn("Current item changed", log)
        self.assertIn("/live/live.ts", log)
        self.assertNotIn("Critical:", log)
        self.assertTrue(any(r.get("path") == "/live/live.ts" for r in self.operator.requests()),
                        "the stream was never asked for")
        queries = self.operator.queries()
        self.assertTrue(queries, "no configuration request")

        # The test display (Xvfb) draws GL on the CPU only: the software scene graph is
        # chosen without loading a GL driver, which would cost tens of megabytes.
        with open("/proc/%d/maps" % player.proc.pid) as f:
            drivers = {line.split()[-1] for line in f if "/dri/" in line or "libLLVM" in line}
        self.assertEqual(drivers, set(), "a GL driver was loaded")

        rc = player.terminate()
        self.assertEqual(rc, 0, player.console())
        self.assertIn("Closing iptv player", self.profile.log())


if __name__ == "__main__":
    unittest.main(verbosity=2)

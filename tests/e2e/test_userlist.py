#!/usr/bin/env python3
"""End to end: the user's own channel list instead of the operator's.

The demo operator's channels as an M3U list with an XMLTV guide (gzip), both served by
the operator test server. The list plays (picture check), its guide fills the control
bar, a favourite survives a restart, and a start whose list answers with an HTML page,
or does not answer at all, keeps playing the last good list; the headers a list asks
for reach the stream's server.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2elib  # noqa: E402


class UserListTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.operator, cls.profile = e2elib.world("userlist")
        cls.profile.set_setting("channelSource", "playlist")
        cls.profile.set_setting("playlistUrl", cls.operator.base + "/media/playlist.m3u")

    @classmethod
    def tearDownClass(cls):
        cls.operator.stop()

    def plays(self, player):
        state = {"window": None}

        def showing():
            if player.proc.poll() is not None:
                raise AssertionError("player ended:\n" + player.console())
            if "Current item changed" not in self.profile.log():
                return None
            state["window"] = state["window"] or player.window()
            if not state["window"]:
                return None
            e2elib.raise_window(state["window"])
            image = e2elib.grab(state["window"])
            return image and e2elib.find_test_pattern(image)
        return e2elib.poll(showing, 45, step=0.3)

    def start(self):
        player = e2elib.Player(self.profile, self.operator.base)
        self.addCleanup(player.kill)
        return player

    def test_list_guide_favourite_and_cache(self):
        player = self.start()
        self.assertTrue(self.plays(player), "no picture; log:\n" + self.profile.log())
        self.assertTrue(e2elib.poll(lambda: "Guide read:" in self.profile.log(), 20), self.profile.log())
        self.assertEqual(self.operator.queries(), [], "the operator's configuration was asked for")
        first = self.operator.config()["iptv"][0]["stream"].replace("{{BASE}}", self.operator.base)
        # stored as a URL variant: the address stands inside it
        self.assertTrue(e2elib.poll(lambda: first in self.profile.settings().get("lastUrl", ""), 10),
                        self.profile.settings())
        self.assertEqual(player.terminate(), 0, player.console())

        # A favourite of the list survives a restart; the list now answers with a login
        # page, and the cached list plays.
        data = os.path.join(self.profile.env["XDG_DATA_HOME"], "Novaline", "IPTV")
        os.makedirs(data, exist_ok=True)
        favourites = os.path.join(data, "ilovealotoftv.json")
        with open(favourites, "w", encoding="utf-8") as f:
            f.write('{"favourites": ["%s"]}' % first)
        self.operator.get("/_control?path=/media/playlist.m3u&fault=html")
        player = self.start()
        self.assertTrue(self.plays(player), "the cached list did not play; log:\n" + self.profile.log())
        log = self.profile.log()
        self.assertIn("not an M3U channel list", log)
        self.assertEqual(player.terminate(), 0, player.console())
        with open(favourites, encoding="utf-8") as f:
            self.assertIn(first, f.read())

        # Offline: nobody answers at the list's address; the cached list plays.
        self.operator.get("/_control?reset=1")
        self.profile.set_setting("playlistUrl", "http://127.0.0.1:9/playlist.m3u")
        self.addCleanup(self.profile.set_setting, "playlistUrl", self.operator.base + "/media/playlist.m3u")
        player = self.start()
        self.assertTrue(self.plays(player), "the cached list did not play offline; log:\n" + self.profile.log())
        self.assertIn("Could not get the channel list", self.profile.log())
        self.assertEqual(player.terminate(), 0, player.console())

    def test_headers_the_list_asks_for(self):
        # A list of its own, so the stream request is told apart by its path.
        with open(os.path.join(self.operator.root, "agent.m3u"), "w", encoding="utf-8") as f:
            f.write("#EXTM3U\n#EXTINF:-1,With headers\n#EXTVLCOPT:http-user-agent=ListBox/2.1\n"
                    "{{BASE}}/live/live.ts?agent=1|Referer=http://portal.example/\n")
        self.profile.set_setting("playlistUrl", self.operator.base + "/media/agent.m3u")
        self.addCleanup(self.profile.set_setting, "playlistUrl", self.operator.base + "/media/playlist.m3u")
        self.profile.set_setting("lastUrl", "")
        player = self.start()
        self.assertTrue(self.plays(player), "no picture; log:\n" + self.profile.log())
        asked = [r for r in self.operator.requests() if r["path"] == "/live/live.ts" and r["query"] == "agent=1"]
        self.assertTrue(asked, self.operator.requests())
        self.assertEqual(asked[0]["agent"], "ListBox/2.1")
        self.assertEqual(asked[0]["referer"], "http://portal.example/")
        self.assertEqual(player.terminate(), 0, player.console())


if __name__ == "__main__":
    unittest.main(verbosity=2)

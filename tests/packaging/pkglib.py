"""Shared steps of the packaging tests: the files an installation must hold, the
validators, and a run of an installed player against the demo operator with a picture
check and an offered update."""
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import e2elib  # noqa: E402

APP_ID = "tv.novaline.iptv"
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
NEWER = 0x02000491  # above this build: offered to it

# Relative to the prefix (usr/ in the package).
EXPECTED_FILES = (
    ["bin/novaline-iptv",
     "share/applications/%s.desktop" % APP_ID,
     "share/metainfo/%s.metainfo.xml" % APP_ID,
     "share/man/man1/novaline-iptv.1.gz",
     "share/icons/hicolor/scalable/apps/%s.svg" % APP_ID,
     "share/doc/novaline-iptv/copyright",
     "share/doc/novaline-iptv/changelog.gz"]
    + ["share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, APP_ID) for s in ICON_SIZES])


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def run_tool(args):
    """Runs a validator; returns (exit status, output)."""
    out = subprocess.run(args, capture_output=True, text=True, timeout=60)
    return out.returncode, out.stdout + out.stderr


def check_installed_tree(test, prefix):
    """The files, the icon sizes, and the validators on the desktop entry, metainfo and
    manual page."""
    for rel in EXPECTED_FILES:
        with test.subTest(file=rel):
            test.assertTrue(os.path.isfile(os.path.join(prefix, rel)), rel)
    test.assertTrue(os.access(os.path.join(prefix, "bin/novaline-iptv"), os.X_OK))
    for size in ICON_SIZES:
        with test.subTest(icon=size):
            path = os.path.join(prefix, "share/icons/hicolor/%dx%d/apps/%s.png" % (size, size, APP_ID))
            test.assertEqual(png_size(path), (size, size))
    desktop = os.path.join(prefix, "share/applications/%s.desktop" % APP_ID)
    metainfo = os.path.join(prefix, "share/metainfo/%s.metainfo.xml" % APP_ID)
    checks = [
        ["desktop-file-validate", desktop],
        ["appstreamcli", "validate", "--no-net", "--pedantic", metainfo],
        ["man", "--warnings", "-E", "UTF-8", "-l", os.path.join(prefix, "share/man/man1/novaline-iptv.1.gz")],
    ]
    for args in checks:
        with test.subTest(tool=args[0]):
            rc, out = run_tool(args)
            test.assertEqual(rc, 0, out)
            # desktop-file-validate and man report problems without failing for some
            test.assertNotIn("error", out.lower() if args[0] != "man" else "", out)
            if args[0] == "man":
                test.assertNotIn("warning", out.lower().replace("--warnings", ""), out[-2000:])
    with open(desktop, encoding="utf-8") as f:
        entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    test.assertEqual(entry["Exec"], "novaline-iptv %U")
    test.assertEqual(entry["Icon"], APP_ID)
    test.assertEqual(entry["Categories"], "AudioVideo;Video;Player;TV;")
    types = entry["MimeType"].rstrip(";").split(";")
    for t in ("video/mp4", "video/x-matroska", "video/mp2t", "x-scheme-handler/iptvurl",
              "x-scheme-handler/iptvvideo"):
        test.assertIn(t, types)
    with open(metainfo, encoding="utf-8") as f:
        text = f.read()
    test.assertIn('<release version="2.0.4"', text)
    test.assertIn("<mediatype>video/mp4</mediatype>", text)
    test.assertIn('<launchable type="desktop-id">%s.desktop</launchable>' % APP_ID, text)


def offer_update(operator):
    config = operator.config()
    config["iptv_updates"] = [{"version": NEWER, "os": "linux", "url": "{{BASE}}/media/update.zip"}]
    operator.write_config(config)


def update_fetched(operator):
    return any(r.get("path") == "/media/update.zip" for r in operator.requests())


def play_and_check_picture(test, executable, root, args=(), launch=None):
    """Starts the player (or `launch`, a command that starts it) against a fresh demo
    operator that offers an update; waits for the test pattern in its window. Returns
    (operator, profile, pid of the player showing the picture)."""
    operator = e2elib.Operator(os.path.join(root, "operator"))
    test.addCleanup(operator.stop)
    offer_update(operator)
    profile = e2elib.Profile(os.path.join(root, "user"))
    profile.set_setting("playerPlaylistState", "false")
    profile.set_setting("iptvWindow", "@Rect(60 60 602 482)")
    e2elib.EXECUTABLE = executable
    player = None
    if launch is None:
        player = e2elib.Player(profile, operator.base, args=args)
        test.addCleanup(player.kill)
    else:
        env = dict(profile.env)
        env["NOVALINE_CONFIG_SERVER"] = operator.base
        # The launched player keeps the launcher's output: a file, not a pipe to wait on.
        output = os.path.join(root, "launcher.out")
        with open(output, "wb") as out:
            rc = subprocess.run(launch, env=env, stdout=out, stderr=subprocess.STDOUT, timeout=30).returncode
        with open(output, encoding="utf-8", errors="replace") as f:
            test.assertEqual(rc, 0, f.read())
        # The launcher does not say which process it started; the executable lies in this
        # test's own folder, so every process running it is this test's.
        real = os.path.realpath(executable)
        for pid in os.listdir("/proc"):
            if pid.isdigit() and process_executable(pid) == real:
                test.addCleanup(end_process, int(pid))
    found = {}

    def window():
        if player is not None and player.proc.poll() is not None:
            raise AssertionError("player ended with %s:\n%s" % (player.proc.returncode, player.console()))
        if "Current item changed" not in profile.log():
            return None
        out = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--name", "^%s$" % e2elib.WINDOW_TITLE],
                             capture_output=True, text=True, timeout=5).stdout.split()
        for w in out:
            pid = subprocess.run(["xdotool", "getwindowpid", w], capture_output=True, text=True).stdout.strip()
            if pid and process_executable(pid) == os.path.realpath(executable):
                if "pid" not in found:
                    found["pid"] = int(pid)
                    test.addCleanup(end_process, found["pid"])
                return int(w)
        return None

    def pattern():
        w = window()
        if not w:
            return None
        e2elib.raise_window(w)
        image = e2elib.grab(w)
        return image and e2elib.find_test_pattern(image)
    test.assertTrue(e2elib.poll(pattern, 45, step=0.3), "no test pattern; log:\n" + profile.log()[-3000:])
    return operator, profile, found["pid"]


def process_executable(pid):
    try:
        return os.readlink("/proc/%s/exe" % pid)
    except OSError:  # ended, or not ours to look at
        return None


def end_process(pid):
    """Asks a player this test started to quit, then kills it if it stays."""
    for sig in (15, 9):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            return
        if e2elib.poll(lambda: not os.path.exists("/proc/%d" % pid) or _zombie(pid), 10, step=0.1):
            return


def _zombie(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True

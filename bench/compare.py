#!/usr/bin/env python3
"""The player next to mpv --vo=x11 and cvlc on the same live stream, one table.

  bench/compare.py [--build DIR] [--player BIN] [--runs N] [--only ours,mpv,cvlc]
                   [--source fast,paced] [--zaps N] [--zap-memory N]

Starts its own Xvfb (1280x800), session bus and operator test server (tools/operator-
server) with two 720p channels whose pictures differ (the test pattern and its negative),
then measures each player in turn, interleaved, N runs each (median reported):

  window    process start to its window on the screen
  start     process start to the first picture in the window
  zap       next channel asked for to the other channel's picture
  cpu win   CPU % while playing in a 602x482 window (10 s)
  cpu full  CPU % while playing at 1280x800
  paused    CPU % while paused (10 s)
  rss, pss  memory while playing (MB)
  p95       95th percentile interval between distinct pictures (ms), from grabs
            of a part of the window every few milliseconds
  held      share of those intervals of 50 ms or more (a 25 fps picture held for
            three 60 Hz vsyncs while the next one waited)

--zap-memory N instead switches channels N times and reports RSS after 10 and N.

Every player's picture is detected the same way: grabs of the window's pixels.
"fast" serves the stream as fast as it is read; "paced" at its own byte rate.

VLC refuses to run as root: run as root, the script creates the system user
"novaline-bench" (useradd --system, no home, no login shell) the first time and runs
cvlc as that user, with a temporary HOME of its own. The private X server listens on
its local socket only and without access control (-ac), so that user may draw on it.
cvlc's window carries no process id, so it is found by its title.
"""
import argparse
import ctypes
import json
import os
import pwd
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, ".."))
WIN_W, WIN_H = 602, 482
FULL_W, FULL_H = 1280, 800
HZ = os.sysconf("SC_CLK_TCK")
BENCH_USER = "novaline-bench"


# --- window pixels ---------------------------------------------------------------

class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class Screen:
    """Grabs parts of the root window (what is on screen, whoever drew it)."""

    def __init__(self):
        self.x = ctypes.CDLL("libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XGetImage.restype = ctypes.POINTER(XImage)
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XDestroyImage.argtypes = [ctypes.POINTER(XImage)]
        self.dpy = self.x.XOpenDisplay(None)
        if not self.dpy:
            raise SystemExit("compare: cannot open the display")
        self.root = self.x.XDefaultRootWindow(self.dpy)

    def grab(self, x, y, w, h):
        """BGRX bytes of the rectangle, or None."""
        img = self.x.XGetImage(self.dpy, self.root, x, y, w, h, 0xFFFFFFFF, 2)
        if not img:
            return None
        im = img.contents
        data = ctypes.string_at(im.data, im.bytes_per_line * im.height)
        stride = im.bytes_per_line
        self.x.XDestroyImage(img)
        if stride != w * 4:
            data = b"".join(data[r * stride:r * stride + w * 4] for r in range(h))
        return data

    def pattern(self, rect):
        """'A' (the clip), 'B' (its negative) or None: which channel the left half of the
        rectangle shows (the right half may be under a panel), from a grid of samples."""
        x, y, w, h = rect
        w //= 2
        data = self.grab(x, y, w, h)
        if not data:
            return None
        red = cyan = 0
        step = 6
        for yy in range(0, h, step):
            row = yy * w * 4
            for xx in range(0, w, step):
                i = row + xx * 4
                b, g, r = data[i], data[i + 1], data[i + 2]
                if r > 180 and g < 80 and b < 80:
                    red += 1
                elif r < 80 and g > 180 and b > 180:
                    cyan += 1
        samples = (w // step + 1) * (h // step + 1)
        if red > samples * 0.03 and cyan < samples * 0.005:
            return "A"
        if cyan > samples * 0.03 and red < samples * 0.005:
            return "B"
        return None


# --- processes ---------------------------------------------------------------------

def free_display():
    n = 90
    while os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n):
        n += 1
    return ":%d" % n


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def memory(pid):
    out = {}
    with open("/proc/%d/smaps_rollup" % pid) as f:
        for line in f:
            parts = line.split()
            if parts[0] in ("Rss:", "Pss:"):
                out[parts[0][:-1].lower()] = int(parts[1]) / 1024.0
    return out


def bench_user():
    """The unprivileged user cvlc runs as when we are root (made once), else None."""
    if os.geteuid() != 0:
        return None
    try:
        pwd.getpwnam(BENCH_USER)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                        BENCH_USER], check=True)
    return BENCH_USER


def window_of(pid, timeout=20, name=None):
    """A visible window of the process (or with that title) wider than 100 pixels."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        how = ["--name", name] if name else ["--pid", str(pid)]
        out = subprocess.run(["xdotool", "search", "--onlyvisible"] + how,
                             capture_output=True, text=True).stdout.split()
        for w in out:
            geo = subprocess.run(["xdotool", "getwindowgeometry", "--shell", w],
                                 capture_output=True, text=True).stdout
            vals = dict(l.split("=", 1) for l in geo.split() if "=" in l)
            if int(vals.get("WIDTH", 0)) > 100:
                return w
        time.sleep(0.02)
    return None


def geometry(win):
    geo = subprocess.run(["xdotool", "getwindowgeometry", "--shell", win],
                         capture_output=True, text=True).stdout
    v = dict(l.split("=", 1) for l in geo.split() if "=" in l)
    return int(v["X"]), int(v["Y"]), int(v["WIDTH"]), int(v["HEIGHT"])


def place(win, w, h):
    subprocess.run(["xdotool", "windowmove", win, "0", "0"], capture_output=True)
    subprocess.run(["xdotool", "windowsize", win, str(w), str(h)], capture_output=True)
    time.sleep(0.5)


def wait_pattern(screen, win, want, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            rect = geometry(win)
        except (KeyError, ValueError):
            rect = None
        if rect and screen.pattern(rect) == want:
            return time.monotonic()
        time.sleep(0.01)
    return None


def pacing(screen, win, seconds=8.0):
    """95th percentile interval (ms) between distinct pictures in the window's centre."""
    x, y, w, h = geometry(win)
    rect = (x, y + h * 7 // 16, w, h // 8)
    last = None
    changes = []
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        data = screen.grab(*rect)
        now = time.monotonic()
        crc = zlib.crc32(data) if data else None
        if crc != last:
            changes.append(now)
            last = crc
        time.sleep(0.002)
    gaps = sorted((b - a) * 1000 for a, b in zip(changes[1:], changes[2:]))
    if len(gaps) < 10:
        return None, None
    # Held: shown for three 60 Hz vsyncs (50 ms) or more while a 25 fps picture waited.
    held = 100.0 * sum(1 for g in gaps if g >= 50) / len(gaps)
    return gaps[int(len(gaps) * 0.95) - 1], held


class Player:
    """One way to run a player: how to start it, switch channel and pause."""

    def __init__(self, name, env):
        self.name = name
        self.env = env
        self.proc = None

    def pid(self):
        """The process that plays (a wrapper's child, if started through one)."""
        pid = self.proc.pid
        for _ in range(20):
            with open("/proc/%d/comm" % pid) as f:
                if f.read().strip() not in ("runuser", "sh", "cvlc"):
                    return pid
            try:
                with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
                    kids = f.read().split()
            except OSError:
                kids = []
            if not kids:
                time.sleep(0.05)
                continue
            pid = int(kids[0])
        return pid

    def window(self, pid):
        return window_of(pid)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Ours(Player):
    def __init__(self, binary, env, base, name="player"):
        super().__init__(name, env)
        self.binary = binary
        self.base = base

    def start(self, url_a, url_b):
        self.home = tempfile.mkdtemp(prefix="compare-home-")
        env = dict(self.env, HOME=self.home, XDG_CONFIG_HOME=self.home + "/.config",
                   XDG_CACHE_HOME=self.home + "/.cache", XDG_DATA_HOME=self.home + "/.local/share",
                   NOVALINE_CONFIG_SERVER=self.base)
        self.proc = subprocess.Popen([self.binary], env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)

    def key(self, win, key):
        # Focus first: a key sent to a window that lacks focus is ignored by Qt.
        subprocess.run(["xdotool", "windowfocus", "--sync", win, "key", key], capture_output=True)

    def zap(self, win, url):
        # Two channels: the next one from the first, the previous one from the second.
        self.key(win, "Right" if url.endswith("/b.ts") else "Left")

    def pause(self, win):
        self.key(win, "space")

    def stop(self):
        super().stop()
        shutil.rmtree(self.home, ignore_errors=True)


class Mpv(Player):
    def start(self, url_a, url_b):
        self.sock = tempfile.mktemp(prefix="compare-mpv-")
        self.proc = subprocess.Popen(
            ["mpv", "--no-config", "--really-quiet", "--ao=null", "--hwdec=no", "--vo=x11",
             "--geometry=%dx%d+0+0" % (WIN_W, WIN_H), "--input-ipc-server=" + self.sock, url_a],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def command(self, *args):
        for _ in range(50):
            try:
                s = socket.socket(socket.AF_UNIX)
                s.connect(self.sock)
                s.sendall((json.dumps({"command": list(args)}) + "\n").encode())
                s.close()
                return
            except OSError:
                time.sleep(0.05)

    def zap(self, win, url):
        self.command("loadfile", url)

    def pause(self, win):
        self.command("set", "pause", "yes")


class Cvlc(Player):
    def start(self, url_a, url_b):
        # VLC refuses to run as root: then it runs as the bench user, with a HOME of its own.
        self.home = tempfile.mkdtemp(prefix="compare-vlc-")
        prefix = []
        # The bench's session bus is not this user's; without any address libdbus tries to
        # start a bus through X11 and cvlc's start waits about three seconds for it.
        env = dict(self.env, HOME=self.home, DBUS_SESSION_BUS_ADDRESS="disabled:")
        user = bench_user()
        if user:
            shutil.chown(self.home, user)
            prefix = ["runuser", "-u", user, "--"]
        self.proc = subprocess.Popen(
            prefix + ["cvlc", "-I", "rc", "--rc-fake-tty", "--no-audio", "--no-video-title-show",
             "--width=%d" % WIN_W, "--height=%d" % WIN_H, url_a],
            env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def window(self, pid):
        return window_of(pid, name="VLC media player")

    def command(self, text):
        self.proc.stdin.write((text + "\n").encode())
        self.proc.stdin.flush()

    def zap(self, win, url):
        self.command("clear")
        self.command("add " + url)

    def pause(self, win):
        self.command("pause")

    def stop(self):
        super().stop()
        shutil.rmtree(self.home, ignore_errors=True)


def measure(player, screen, urls, zaps):
    r = {}
    t0 = time.monotonic()
    player.start(*urls)
    try:
        pid = player.pid()
        win = player.window(pid)
        if not win:
            return r
        r["window"] = (time.monotonic() - t0) * 1000
        pid = player.pid()  # a wrapper's child may have come late
        shown = wait_pattern(screen, win, "A", 30)
        if not shown:
            return r
        r["start"] = (shown - t0) * 1000
        place(win, WIN_W, WIN_H)
        time.sleep(2)
        c0 = cpu_ticks(pid)
        time.sleep(10)
        r["cpu win"] = (cpu_ticks(pid) - c0) * 100.0 / HZ / 10
        r.update(memory(pid))
        r["p95"], r["held"] = pacing(screen, win)
        zap_times = []
        want = "B"
        for _ in range(zaps):
            t = time.monotonic()
            player.zap(win, urls[1] if want == "B" else urls[0])
            got = wait_pattern(screen, win, want, 15)
            if got:
                zap_times.append((got - t) * 1000)
            want = "A" if want == "B" else "B"
            time.sleep(1.0)
        if zap_times:
            r["zap"] = statistics.median(zap_times)
        place(win, FULL_W, FULL_H)
        time.sleep(2)
        c0 = cpu_ticks(pid)
        time.sleep(10)
        r["cpu full"] = (cpu_ticks(pid) - c0) * 100.0 / HZ / 10
        place(win, WIN_W, WIN_H)
        player.pause(win)
        time.sleep(2)
        c0 = cpu_ticks(pid)
        time.sleep(10)
        r["paused"] = (cpu_ticks(pid) - c0) * 100.0 / HZ / 10
    finally:
        player.stop()
    return r


def zap_memory(player, screen, urls, switches):
    """RSS (MB) of the player after 10 and after `switches` channel switches."""
    r = {}
    player.start(*urls)
    try:
        pid = player.pid()
        win = player.window(pid)
        pid = player.pid()
        if not win or not wait_pattern(screen, win, "A", 30):
            return r
        want = "B"
        for n in range(1, switches + 1):
            player.zap(win, urls[1] if want == "B" else urls[0])
            wait_pattern(screen, win, want, 10)
            want = "A" if want == "B" else "B"
            time.sleep(0.5)
            if n in (10, switches):
                r["rss after %d" % n] = memory(pid)["rss"]
                print("  %s: %d switches, RSS %.1f MB" % (player.name, n, r["rss after %d" % n]),
                      file=sys.stderr)
    finally:
        player.stop()
    return r


def make_media(folder):
    a = os.path.join(folder, "a.ts")
    b = os.path.join(folder, "b.ts")
    if not os.path.exists(a):
        subprocess.run([os.path.join(ROOT, "tools", "make-media"), "--duration", "20",
                        "--only", "clip-720p", folder], check=True, stdout=subprocess.DEVNULL)
        os.rename(os.path.join(folder, "clip-720p.ts"), a)
    if not os.path.exists(b):
        # The negative of the clip (red becomes cyan): the other channel.
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-i", a, "-vf", "negate", "-c:v", "libx264", "-preset", "veryfast",
                        "-g", "25", "-c:a", "copy", "-f", "mpegts", b], check=True)
    with open(os.path.join(folder, "config.json"), "w") as f:
        json.dump({"iptv": [{"title": "A", "stream": "{{BASE}}/live/a.ts", "groupTitle": "G", "groupId": 1},
                            {"title": "B", "stream": "{{BASE}}/live/b.ts", "groupTitle": "G", "groupId": 1}]}, f)
    return os.path.getsize(a) // 20


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--player", help="player binary (default BUILD/bin/novaline-iptv)")
    ap.add_argument("--before", metavar="BIN", help="another build of the player, listed as 'before'")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--zaps", type=int, default=4)
    ap.add_argument("--only", default="ours,mpv,cvlc", help="comma-separated: ours, before, mpv, cvlc")
    ap.add_argument("--source", default="fast,paced")
    ap.add_argument("--media", default=os.path.join(tempfile.gettempdir(), "novaline-compare-media"))
    ap.add_argument("--json", help="also write the raw results here")
    ap.add_argument("--zap-memory", type=int, metavar="N",
                    help="instead: switch channels N times and report RSS after 10 and N")
    args = ap.parse_args()
    binary = args.player or os.path.join(args.build, "bin", "novaline-iptv")
    os.makedirs(args.media, exist_ok=True)
    rate = make_media(args.media)

    procs = []
    display = free_display()
    procs.append(subprocess.Popen(["Xvfb", display, "-screen", "0", "%dx%dx24" % (FULL_W, FULL_H),
                                   "-nolisten", "tcp", "-ac"], stderr=subprocess.DEVNULL))
    env = dict(os.environ, DISPLAY=display)
    env.pop("WAYLAND_DISPLAY", None)
    os.environ["DISPLAY"] = display
    for _ in range(100):
        if subprocess.run(["xdpyinfo"], capture_output=True).returncode == 0:
            break
        time.sleep(0.1)

    bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--nopidfile", "--print-address=1",
                          "--print-pid=1"], capture_output=True, text=True).stdout.split()
    if len(bus) == 2:
        env["DBUS_SESSION_BUS_ADDRESS"] = bus[0]
    screen = Screen()
    results = {}
    try:
        for source in args.source.split(","):
            port_file = os.path.join(args.media, "port")
            if os.path.exists(port_file):
                os.remove(port_file)
            cmd = [os.path.join(ROOT, "tools", "operator-server"), "--root", args.media, "--port", "0",
                   "--port-file", port_file, "--quiet"]
            if source == "paced":
                cmd += ["--fault", "/live/a.ts=trickle:%d" % rate, "--fault", "/live/b.ts=trickle:%d" % rate]
            server = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(100):
                if os.path.exists(port_file) and open(port_file).read().strip():
                    break
                time.sleep(0.1)
            base = "http://127.0.0.1:%s" % open(port_file).read().strip()
            urls = (base + "/live/a.ts", base + "/live/b.ts")
            makers = {"ours": lambda: Ours(binary, env, base), "mpv": lambda: Mpv("mpv x11", env),
                      "before": lambda: Ours(args.before, env, base, "player before"),
                      "cvlc": lambda: Cvlc("cvlc", env)}
            try:
                if args.zap_memory:
                    for key in args.only.split(","):
                        p = makers[key]()
                        results.setdefault(source, {})[p.name] = zap_memory(p, screen, urls, args.zap_memory)
                    continue
                for run in range(args.runs):
                    for key in args.only.split(","):
                        p = makers[key]()
                        r = measure(p, screen, urls, args.zaps)
                        results.setdefault(source, {}).setdefault(p.name, []).append(r)
                        print("  %s %s run %d: %s" % (source, p.name, run + 1,
                              ", ".join("%s %.1f" % (k, v) for k, v in r.items() if v is not None)),
                              file=sys.stderr)
            finally:
                server.terminate()
                server.wait()
    finally:
        for p in procs:
            p.terminate()
        if len(bus) == 2:
            subprocess.run(["kill", bus[1]], capture_output=True)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    if args.zap_memory:
        print("\n| source | player | RSS MB after 10 switches | after %d |\n|---|---|---|---|" % args.zap_memory)
        for source, players in results.items():
            for name, r in players.items():
                print("| %s | %s | %s | %s |" % (source, name, r.get("rss after 10", "—"),
                                                 r.get("rss after %d" % args.zap_memory, "—")))
        return
    print_table(results)


def print_table(results):
    cols = [("window", "window ms"), ("start", "start ms"), ("zap", "zap ms"), ("cpu win", "CPU % window"),
            ("cpu full", "CPU % 1280x800"), ("paused", "CPU % paused"), ("rss", "RSS MB"),
            ("pss", "PSS MB"), ("p95", "p95 interval ms"), ("held", "% intervals ≥ 50 ms")]
    for source, players in results.items():
        print("\n%s source, medians of %d runs; ratio to mpv x11 (and cvlc) in brackets\n" %
              (source, max(len(v) for v in players.values())))
        print("| player | " + " | ".join(c[1] for c in cols) + " |")
        print("|---|" + "---|" * len(cols))
        med = {}
        for name, runs in players.items():
            med[name] = {}
            for key, _ in cols:
                vals = [r[key] for r in runs if r.get(key) is not None]
                med[name][key] = statistics.median(vals) if vals else None
        for name in players:
            cells = []
            for key, _ in cols:
                v = med[name][key]
                ref = med.get("mpv x11", {}).get(key)
                vlc = med.get("cvlc", {}).get(key)
                if v is None:
                    cells.append("—")
                elif ref and name not in ("mpv x11", "cvlc") and key != "held":
                    cells.append("%.1f (%.2f×%s)" % (v, v / ref, ", %.2f× cvlc" % (v / vlc) if vlc else ""))
                elif ref and name == "cvlc" and key != "held":
                    cells.append("%.1f (%.2f×)" % (v, v / ref))
                else:
                    cells.append("%.1f" % v)
            print("| %s | %s |" % (name, " | ".join(cells)))


if __name__ == "__main__":
    main()

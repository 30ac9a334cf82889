#!/usr/bin/env python3
"""CPU seconds of playing the 10 s 720p and 1080p clips, side by side:

  libVLC decoding only (--vout=dummy), our VlcPlayer + VlcVideoOutput in a QQuickView
  (planar upload with the YUV shader, libVLC's RGB conversion, and that conversion on
  Qt Quick's software scene graph, the player's path on a software rasteriser), and mpv rendering
  into the same X display (--vo=gpu and --vo=x11).

usage: bench/vlcqt/run-bench.py [BUILD_DIR]     (default: build; needs vlcqt_bench_play)
Without DISPLAY it starts itself again under xvfb-run (1920x1080x24).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))


def run(cmd, env=None):
    """Runs cmd to its end; returns (cpu seconds of it and its children, wall seconds, stdout)."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            env=dict(os.environ, **(env or {})))
    out = proc.stdout.read().decode(errors="replace")
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    wall = time.monotonic() - start
    if proc.returncode != 0:
        print("  failed (%d): %s" % (proc.returncode, " ".join(cmd)), file=sys.stderr)
        return None, wall, out
    return usage.ru_utime + usage.ru_stime, wall, out


def main():
    if not os.environ.get("DISPLAY"):
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1920x1080x24 -nolisten tcp",
                               sys.executable] + sys.argv)
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    player = os.path.join(build, "bench", "vlcqt_bench_play")
    if not os.access(player, os.X_OK):
        sys.exit("missing %s: cmake --build %s --target vlcqt_bench_play" % (player, build))
    media = tempfile.mkdtemp(prefix="vlcqt-bench-")
    try:
        subprocess.run([os.path.join(ROOT, "tools", "make-media"), "--duration", "10",
                        "--only", "clip-720p,clip-1080p", media], check=True)
        mpv = shutil.which("mpv")
        cases = [
            ("libVLC decode only (--vout=dummy)", lambda f: ([player, "decode", f], {})),
            ("VlcVideoOutput, I420 + YUV shader", lambda f: ([player, "view", f], {"VLCQT_VIDEO_PATH": "yuv"})),
            ("VlcVideoOutput, RV32 from libVLC", lambda f: ([player, "view", f], {"VLCQT_VIDEO_PATH": "rgb"})),
            # What the player runs where GL is drawn on the CPU.
            ("VlcVideoOutput, RV32, software scene graph",
             lambda f: ([player, "view", f], {"VLCQT_VIDEO_PATH": "rgb", "QT_QUICK_BACKEND": "software"})),
        ]
        if mpv:
            for vo in ("gpu", "x11"):
                cases.append(("mpv --vo=%s" % vo, lambda f, vo=vo: (
                    [mpv, "--no-config", "--really-quiet", "--ao=null", "--hwdec=no", "--vo=" + vo]
                    + (["--gpu-context=x11egl", "--gpu-sw=yes"] if vo == "gpu" else []) + [f], {})))
        clips = [("720p", os.path.join(media, "clip-720p.ts")), ("1080p", os.path.join(media, "clip-1080p.ts"))]
        rows = []
        for name, make in cases:
            row = [name]
            for _, clip in clips:
                cmd, env = make(clip)
                cpu, wall, out = run(cmd, env)
                frames = ""
                for word in out.split("frames ")[1:2]:
                    frames = word.split()[0]
                row.append(("%.2f" % cpu if cpu is not None else "failed", "%.1f" % wall, frames))
            rows.append(row)
            print("  %s done" % name, file=sys.stderr)
        renderer = subprocess.run(["sh", "-c", "glxinfo -B 2>/dev/null | grep -i 'renderer string'"],
                                  capture_output=True, text=True).stdout.strip()
        print("\n10 s clips, CPU seconds (user + system) of the whole process; wall seconds in brackets")
        if renderer:
            print(renderer)
        print("\n| player | 720p CPU s | 1080p CPU s |")
        print("|---|---|---|")
        for row in rows:
            cells = []
            for cpu, wall, frames in row[1:]:
                cell = "%s (%s)" % (cpu, wall)
                if frames and frames != "0":
                    cell += ", %s frames drawn" % frames
                cells.append(cell)
            print("| %s | %s |" % (row[0], " | ".join(cells)))
    finally:
        shutil.rmtree(media, ignore_errors=True)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""M3U and XMLTV readers against peers on the same generated files, one table.

  bench/playlists/run-bench.py BUILD [--channels 100000] [--guide-channels 2000]
                                     [--days 14] [--per-day 40] [--runs 3]

Peers: a Python line parser for M3U; Python's xml.etree iterparse and xmllint --stream
(libxml2 reading without doing anything, the floor) for XMLTV, plain and gzip.
"""
import argparse
import gzip
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time


def make_m3u(path, n):
    with open(path, "w", encoding="utf-8") as f:
        f.write('#EXTM3U url-tvg="http://guide.example/epg.xml.gz"\n')
        for i in range(n):
            f.write('#EXTINF:-1 tvg-id="ch%d.example" tvg-name="Канал %d" tvg-logo="http://logo.example/%d.png" '
                    'group-title="Группа %d" catchup="default" catchup-days="7",Канал номер %d\n'
                    'http://stream.example:8080/live/user/pass/%d.ts\n' % (i, i, i, i % 50, i, i))


def make_xmltv(path, channels, days, per_day):
    start = 1796688000  # a midnight in UTC
    step = 86400 // per_day
    with open(path, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<tv generator-info-name="bench">\n')
        for c in range(channels):
            f.write('<channel id="ch%d.example"><display-name>Канал %d</display-name></channel>\n' % (c, c))
        for c in range(channels):
            for k in range(days * per_day):
                t0 = start + k * step
                a = time.strftime("%Y%m%d%H%M%S", time.gmtime(t0))
                b = time.strftime("%Y%m%d%H%M%S", time.gmtime(t0 + step))
                f.write('<programme start="%s +0300" stop="%s +0300" channel="ch%d.example">'
                        '<title lang="ru">Передача %d</title><desc lang="ru">Описание передачи %d</desc>'
                        '<category>Кино</category></programme>\n' % (a, b, c, k, k))
        f.write("</tv>\n")


def timed(cmd):
    t = time.monotonic()
    out = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout.decode()
    return time.monotonic() - t, out


PY_M3U = r"""
import sys
chans = []
title = None
with open(sys.argv[1], encoding="utf-8") as f:
    for line in f:
        line = line.strip()
        if line.startswith("#EXTINF:"):
            title = line.split(",", 1)[-1]
        elif line and not line.startswith("#"):
            chans.append((title, line)); title = None
print(len(chans))
"""

PY_XML = r"""
import sys, gzip, xml.etree.ElementTree as ET
src = gzip.open(sys.argv[1]) if sys.argv[1].endswith(".gz") else open(sys.argv[1], "rb")
by = {}
for ev, el in ET.iterparse(src):
    if el.tag == "programme":
        by.setdefault(el.get("channel"), []).append((el.get("start"), el.findtext("title")))
        el.clear()
    elif el.tag == "channel":
        el.clear()
print(sum(len(v) for v in by.values()))
"""


def main():
    p = argparse.ArgumentParser()
    p.add_argument("build")
    p.add_argument("--channels", type=int, default=100000)
    p.add_argument("--guide-channels", type=int, default=2000)
    p.add_argument("--days", type=int, default=14)
    p.add_argument("--per-day", type=int, default=40)
    p.add_argument("--runs", type=int, default=3)
    a = p.parse_args()
    ours = os.path.join(a.build, "bench", "bench_playlists")
    with tempfile.TemporaryDirectory() as d:
        m3u = os.path.join(d, "list.m3u")
        xml = os.path.join(d, "guide.xml")
        make_m3u(m3u, a.channels)
        make_xmltv(xml, a.guide_channels, a.days, a.per_day)
        with open(xml, "rb") as src, gzip.open(xml + ".gz", "wb", compresslevel=6) as dst:
            dst.write(src.read())
        print("M3U: %d entries, %.1f MB; XMLTV: %d programmes, %.0f MB (%.0f MB gzip)" % (
            a.channels, os.path.getsize(m3u) / 1e6, a.guide_channels * a.days * a.per_day,
            os.path.getsize(xml) / 1e6, os.path.getsize(xml + ".gz") / 1e6))
        cases = [
            ("M3U parse + channel model", [ours, "m3u", m3u], [
                ("Python line parser", [sys.executable, "-c", PY_M3U, m3u])]),
            ("XMLTV to guide index, plain", [ours, "xmltv", xml, str(a.guide_channels)], [
                ("Python iterparse", [sys.executable, "-c", PY_XML, xml]),
                ("xmllint --stream (floor)", ["xmllint", "--stream", "--noout", xml])]),
            ("XMLTV to guide index, gzip", [ours, "xmltv", xml + ".gz", str(a.guide_channels)], [
                ("Python iterparse", [sys.executable, "-c", PY_XML, xml + ".gz"])]),
        ]
        # "work s" is the reading alone, as the player does it; "process s" the whole
        # process, start and exit included, as for the peers. Ratios compare processes.
        print("%-32s %-26s %9s %9s %9s %s" % ("work", "who", "work s", "process s", "ratio", "peak RSS growth"))
        for name, cmd, peers in cases:
            runs, work, rss = [], [], []
            for _ in range(a.runs):
                s, out = timed(cmd)
                runs.append(s)
                parts = out.split()
                work.append(float(parts[parts.index("seconds") + 1]))
                rss.append(int(parts[parts.index("peak_rss_growth_mb") + 1]))
            mine = statistics.median(runs)
            print("%-32s %-26s %9.2f %9.2f %9s %d MB" % (name, "this player", statistics.median(work), mine, "1.00",
                                                        max(rss)))
            for peer, pcmd in peers:
                ps = statistics.median(timed(pcmd)[0] for _ in range(a.runs))
                print("%-32s %-26s %9s %9.2f %8.2fx" % ("", peer, "", ps, ps / mine))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes a demo operator into a folder served by tools/operator-server.

config.json   the configuration document (channels in 3 groups, guide address),
jtv.json      a guide covering the current week around now,
portal.json   one video-portal listing (served as a plain file),
playlist.m3u  the same channels as an extended M3U list, naming
guide.xml.gz  the same guide as XMLTV (gzip), for the demo of the user's own list.
Addresses use the {{BASE}} placeholder the operator server replaces by its own base URL.
Streams point at /live/<pattern>.ts; the media files themselves come from tools/make-media.
"""
import argparse
import gzip
import json
import os
import random
import tempfile
import time
from xml.sax.saxutils import escape, quoteattr

GROUPS = [
    ("Общероссийские", [
        ("Первый тестовый", "16:9"), ("Россия Тест", "16:9"), ("Матч Демо", "4:3"),
        ("НТВ Пример", ""), ("Культура HD", "16:9"),
    ]),
    ("News", [
        ("World News 24", "16:9"), ("Euro Headlines", "16:10"), ("Новости мира", "4:3"),
        ("Business Live", "16:9"),
    ]),
    ("Кино и сериалы", [
        ("Cinema One", "235:100"), ("Кинохит", "16:9"), ("Series Max", "5:4"),
        ("Детский мир", "4:3"),
    ]),
]

PROGRAMMES = [
    "Новости", "Утреннее шоу", "Документальный фильм", "Погода", "Сериал «Дом у реки»",
    "Спорт сегодня", "Вечерний выпуск", "Кино: Большое путешествие", "Музыкальный час",
    "World Report", "Morning Show", "Documentary: Northern Lights", "Late Night Talk",
    "Мультфильмы", "Ток-шоу «Мнение»", "Час истории", "Science Today",
]


def write_atomic(path, text):
    folder = os.path.dirname(path) or "."
    fd, tmp = tempfile.mkstemp(dir=folder, prefix=".tmp-")
    with os.fdopen(fd, "w", encoding="utf-8") as f:
        f.write(text)
    os.chmod(tmp, 0o644)
    os.replace(tmp, path)


def make(folder, patterns, now=None):
    now = int(now or time.time())
    rnd = random.Random(20261208)
    channels = []
    guide = {}
    n = 0
    for group, entries in GROUPS:
        for title, aspect in entries:
            key = "ch%02d" % n
            channel = {
                "title": title,
                "stream": "{{BASE}}/live/%s" % patterns[n % len(patterns)],
                "groupTitle": group,
                "jtv": key if n % 6 != 5 else "",  # a few channels without a guide
                "groupId": 1 + GROUPS.index((group, entries)),
            }
            if aspect:
                channel["aspect"] = aspect
            channels.append(channel)
            # programmes from 3 days back to 4 days ahead, 30 to 120 minutes each
            t = (now - 3 * 86400) // 1800 * 1800
            progs = []
            while t < now + 4 * 86400:
                progs.append({"title": rnd.choice(PROGRAMMES), "time": t})
                t += rnd.choice([30, 45, 60, 90, 120]) * 60
            guide[key] = progs
            n += 1
    config = {
        "iptv": channels,
        "iptvJtvWeek": "{{BASE}}/media/jtv.json",
        "iptv_updates": [],
    }
    files = []
    for i in range(1, 5):
        files.append({
            "filetype": 1, "id": 100 + i, "title": "Серия", "season": 1, "episode": i,
            "url": "{{BASE}}/media/%s" % patterns[i % len(patterns)],
            "trackingTime": -1 if i < 3 else 0,
            "version": {"title": "HD"}, "qualityType": 2, "qualityTypeString": "720p",
            "translation": "Дубляж",
        })
    portal = {"data": [
        {"title": "Сезон 1", "files": files},
        {"title": "", "files": [{
            "filetype": 1, "id": 200, "title": "Film", "url": "{{BASE}}/media/%s" % patterns[0],
            "version": {"title": "Extended", "special": True}, "versionText": "Cut",
            "qualityType": 1, "d3": True,
        }]},
    ]}
    os.makedirs(folder, exist_ok=True)
    write_atomic(os.path.join(folder, "config.json"), json.dumps(config, ensure_ascii=False, indent=1))
    write_atomic(os.path.join(folder, "jtv.json"), json.dumps(guide, ensure_ascii=False))
    write_atomic(os.path.join(folder, "portal.json"), json.dumps(portal, ensure_ascii=False, indent=1))
    write_atomic(os.path.join(folder, "playlist.m3u"), m3u(channels))
    with open(os.path.join(folder, "guide.xml.gz"), "wb") as f:
        f.write(gzip.compress(xmltv(channels, guide).encode("utf-8")))
    return config


def m3u(channels):
    lines = ['#EXTM3U url-tvg="{{BASE}}/media/guide.xml.gz"']
    for c in channels:
        key = ' tvg-id="%s"' % c["jtv"] if c["jtv"] else ""
        lines.append('#EXTINF:-1%s group-title="%s",%s' % (key, c["groupTitle"], c["title"]))
        lines.append(c["stream"])
    return "\n".join(lines) + "\n"


def xmltv(channels, guide):
    def stamp(t):
        return time.strftime("%Y%m%d%H%M%S +0000", time.gmtime(t))
    out = ['<?xml version="1.0" encoding="UTF-8"?>', "<tv>"]
    for c in channels:
        if c["jtv"]:
            out.append("<channel id=%s><display-name>%s</display-name></channel>"
                       % (quoteattr(c["jtv"]), escape(c["title"])))
    for c in channels:
        progs = guide.get(c["jtv"], [])
        for i, p in enumerate(progs):
            stop = ' stop="%s"' % stamp(progs[i + 1]["time"]) if i + 1 < len(progs) else ""
            out.append('<programme start="%s"%s channel=%s><title lang="ru">%s</title></programme>'
                       % (stamp(p["time"]), stop, quoteattr(c["jtv"]), escape(p["title"])))
    out.append("</tv>")
    return "\n".join(out) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("folder")
    ap.add_argument("--patterns", default="live-a.ts,live-b.ts,live-c.ts,live-d.ts",
                    help="comma-separated stream file names under the folder")
    args = ap.parse_args()
    cfg = make(args.folder, args.patterns.split(","))
    print("demo operator: %d channels in %d groups written to %s"
          % (len(cfg["iptv"]), len(GROUPS), args.folder))


if __name__ == "__main__":
    main()

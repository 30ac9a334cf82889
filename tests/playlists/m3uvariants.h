#pragma once

// M3U channel lists as met in the wild, and the channels a reader must see in each:
// read from memory by the parser tests and served over HTTP by the configuration tests.
// "%BASE%" stands for the folder of the list's own address.

#include <QByteArray>
#include <QStringList>
#include <QVector>

struct M3uVariant
{
    const char *name;
    QByteArray text;
    QStringList channels;  // per channel: title|url|group|guide key|agent|referrer
};

inline QVector<M3uVariant> m3uVariants()
{
    const QByteArray head = "#EXTM3U\n";
    return {
        {"quoted, odd order, upper-case names",
         head + "#EXTINF:-1 group-title=\"Новости\" tvg-ID=\"one.ru\" tvg-name=\"One\",Первый\nhttp://h/1.ts\n",
         {"Первый|http://h/1.ts|Новости|one.ru||"}},
        {"unquoted values, comma inside quotes, title with commas",
         head + "#EXTINF:0 tvg-name=One group-title=\"News, World\",Title, with commas\nhttp://h/2.ts\n",
         {"Title, with commas|http://h/2.ts|News, World|One||"}},
        {"unclosed quote", head + "#EXTINF:-1 tvg-id=\"broken,Broken channel\nhttp://h/3.ts\n",
         {"Broken channel|http://h/3.ts||broken||"}},
        {"EXTGRP, no header, CRLF, BOM", QByteArray("\xEF\xBB\xBF#EXTINF:-1,A\r\n#EXTGRP:Films\r\nhttp://h/a.ts\r\n"),
         {"A|http://h/a.ts|Films|A||"}},
        {"player options and the address suffix",
         head + "#EXTINF:-1,B\n#EXTVLCOPT:http-user-agent=Box/1.0\n#EXTVLCOPT:network-caching=1000\n"
                "#KODIPROP:inputstream=x\nhttp://h/b.ts\n#EXTINF:-1,C\nhttp://h/c.ts|User-Agent=TV%201&Referer=http://r/\n",
         {"B|http://h/b.ts||B|Box/1.0|", "C|http://h/c.ts||C|TV 1|http://r/"}},
        {"relative address, junk line, second header, blank lines",
         head + "\n#EXTINF:-1,R\nlive/r.m3u8\n#EXTM3U\nthis is junk\n\n#EXTINF:-1,S\nrtsp://cam/s\n",
         {"R|%BASE%live/r.m3u8||R||", "S|rtsp://cam/s||S||"}},
        {"entries without a playable address are skipped",
         head + "#EXTINF:-1,NoUrl\n#EXTINF:-1,Bad\njavascript:alert(1)\n#EXTINF:-1,Ok\nudp://@239.1.1.1:1234\n",
         {"Ok|udp://@239.1.1.1:1234||Ok||"}},
    };
}

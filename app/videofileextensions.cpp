#include "videofileextensions.h"

const QStringList videoFileExtensions = {
    QStringLiteral("3g2"),   QStringLiteral("3gp"),   QStringLiteral("3gp2"),  QStringLiteral("3gpp"),
    QStringLiteral("amv"),   QStringLiteral("asf"),   QStringLiteral("avi"),   QStringLiteral("bik"),
    QStringLiteral("divx"),  QStringLiteral("drc"),   QStringLiteral("dv"),    QStringLiteral("f4v"),
    QStringLiteral("flv"),   QStringLiteral("gvi"),   QStringLiteral("gxf"),   QStringLiteral("m1v"),
    QStringLiteral("m2t"),   QStringLiteral("m2v"),   QStringLiteral("m2ts"),  QStringLiteral("m4v"),
    QStringLiteral("mkv"),   QStringLiteral("mov"),   QStringLiteral("mp2v"),  QStringLiteral("mp4"),
    QStringLiteral("mp4v"),  QStringLiteral("mpa"),   QStringLiteral("mpe"),   QStringLiteral("mpeg"),
    QStringLiteral("mpeg1"), QStringLiteral("mpeg2"), QStringLiteral("mpeg4"), QStringLiteral("mpg"),
    QStringLiteral("mpv2"),  QStringLiteral("mts"),   QStringLiteral("mtv"),   QStringLiteral("mxf"),
    QStringLiteral("nsv"),   QStringLiteral("nuv"),   QStringLiteral("ogg"),   QStringLiteral("ogm"),
    QStringLiteral("ogx"),   QStringLiteral("ogv"),   QStringLiteral("rec"),   QStringLiteral("rm"),
    QStringLiteral("rmvb"),  QStringLiteral("rpl"),   QStringLiteral("thp"),   QStringLiteral("tod"),
    QStringLiteral("ts"),    QStringLiteral("tts"),   QStringLiteral("vob"),   QStringLiteral("vro"),
    QStringLiteral("webm"),  QStringLiteral("wmv"),   QStringLiteral("xesc"),
};

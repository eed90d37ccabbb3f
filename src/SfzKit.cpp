#include "SfzKit.h"

namespace {

// A file name may hold a line break or another control character, which
// would end a comment line early and turn the rest into opcodes.
QString oneLine(QString text)
{
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    return text;
}

} // namespace

QByteArray SfzKit::text(const QStringList& comments, const QList<Region>& regions)
{
    QString text;
    for (const QString& comment : comments)
        text += QStringLiteral("// %1\n").arg(oneLine(comment));
    text += QLatin1Char('\n');
    for (const Region& region : regions) {
        QString line =
            QStringLiteral("<region> key=%1 pitch_keycenter=%1 loop_mode=one_shot amp_veltrack=0")
                .arg(region.key);
        if (region.chokeGroup > 0)
            line += QStringLiteral(" group=%1 off_by=%1").arg(region.chokeGroup);
        if (region.transpose != 0)
            line += QStringLiteral(" transpose=%1").arg(region.transpose);
        if (region.volume != 0.0)
            line += QStringLiteral(" volume=%1").arg(region.volume, 0, 'f', 2);
        // Last on the line: a path with spaces then runs to the line's end.
        line += QStringLiteral(" sample=%1\n").arg(oneLine(region.sample));
        text += line;
    }
    return text.toUtf8();
}

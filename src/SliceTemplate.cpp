#include "SliceTemplate.h"

#include <QDomDocument>
#include <QFile>

#include <cmath>

namespace {

// Templates are a handful of lines; anything much larger is not one of ours.
const qint64 kTemplateMaxBytes = 1024 * 1024;

bool parseFraction(const QDomElement& element, const QString& name, double* value)
{
    if (!element.hasAttribute(name))
        return false;
    bool ok = false;
    *value = element.attribute(name).toDouble(&ok);
    return ok && std::isfinite(*value);
}

} // namespace

bool SliceTemplate::read(const QString& fileName, SliceTemplate* result, QString* error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *error =
            QString("Failed to read slice template \"%1\" (%2)").arg(fileName, file.errorString());
        return false;
    }
    return read(file, result, error);
}

bool SliceTemplate::read(QFile& file, SliceTemplate* result, QString* error)
{
    const QString fileName = file.fileName();
    const auto refuse = [&](const QString& why) {
        *error = QString("Not a slice template \"%1\" (%2)").arg(fileName, why);
        return false;
    };
    if (file.size() > kTemplateMaxBytes)
        return refuse("too large");
    QDomDocument document;
    QString parseError;
    int line = 0;
    int column = 0;
    if (!document.setContent(&file, &parseError, &line, &column))
        return refuse(QString("%1 at line %2, column %3").arg(parseError).arg(line).arg(column));

    const QDomElement root = document.documentElement();
    if (root.tagName() != SliceTemplate::kRoot)
        return refuse(QString("root element is \"%1\"").arg(root.tagName()));
    if (root.attribute("version") != SliceTemplate::kVersion)
        return refuse(QString("unsupported version \"%1\"").arg(root.attribute("version")));

    SliceTemplate read;
    bool haveMarkers = false;
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (e.tagName() == "markers") {
            if (haveMarkers)
                return refuse("more than one markers element");
            if (!parseFraction(e, "start", &read.startMarker) ||
                !parseFraction(e, "end", &read.endMarker) || read.startMarker < 0.0 ||
                read.endMarker <= read.startMarker)
                return refuse("invalid markers");
            haveMarkers = true;
        } else if (e.tagName() == "point") {
            double at = 0.0;
            if (!parseFraction(e, "at", &at))
                return refuse("invalid point");
            read.points.append(at);
        } else {
            return refuse(QString("unexpected element \"%1\"").arg(e.tagName()));
        }
    }
    if (!haveMarkers)
        return refuse("no markers");
    *result = read;
    return true;
}

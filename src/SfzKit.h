#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The text of an .sfz instrument: a comment header, then one region per
// sample on a key of its own. Drums: each region plays to its end whatever
// the note's length, and at its recorded level whatever the velocity, so a
// groove played into it sounds as the loop did.
class SfzKit
{
public:
    struct Region
    {
        // Relative to the .sfz, with forward slashes.
        QString sample;
        int key = 0;
        // Choke group (group and off_by): a region cuts the others of its
        // group, as a closed hi-hat cuts the open one. 0 for none.
        int chokeGroup = 0;
        int transpose = 0;
        // Decibels.
        double volume = 0.0;
    };

    static QByteArray text(const QStringList& comments, const QList<Region>& regions);
};

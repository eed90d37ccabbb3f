#pragma once

#include <QByteArray>

class SliceEngine;

// Tells whether there is work a project does not hold yet: the tempo, the
// pads and the slicing of the loop compared with what was last saved or
// opened. A loop that is only open, without slice points or moved markers,
// is no work of its own: it is the file on disk.
class ProjectChanges
{
public:
    explicit ProjectChanges(SliceEngine* engine);

    // The present state is what a project now holds (saved, opened or new).
    void markSaved();
    bool isModified() const;

private:
    QByteArray state() const;

    SliceEngine* m_pEngine;
    QByteArray m_saved;
};

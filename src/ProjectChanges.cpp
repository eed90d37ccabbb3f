#include "ProjectChanges.h"

#include "BankSampler.h"
#include "Kerfer.h"
#include "Slice.h"
#include "SliceEngine.h"

#include <QDomDocument>

ProjectChanges::ProjectChanges(SliceEngine* engine) : m_pEngine(engine)
{
    markSaved();
}

void ProjectChanges::markSaved()
{
    m_saved = state();
}

bool ProjectChanges::isModified() const
{
    return state() != m_saved;
}

QByteArray ProjectChanges::state() const
{
    // The pads as a project writes them (names relative to a fixed folder):
    // every property a project keeps, and nothing else.
    QDomDocument document;
    QDomElement root = document.createElement(QStringLiteral("state"));
    document.appendChild(root);
    root.setAttribute(QStringLiteral("bpm"), m_pEngine->getBPM());
    m_pEngine->getBankSampler()->writeXml(QStringLiteral("/"), document, root);

    Kerfer* kerfer = m_pEngine->getKerfer();
    const QSharedPointer<Slice> loop = kerfer->getLoop();
    const Kerfer::Cuts cuts = kerfer->getCuts();
    const bool whole = cuts.points.isEmpty() && cuts.startMarker == 0 &&
                       (!loop || cuts.endMarker == loop->getLength());
    if (!whole) {
        QDomElement slicing = document.createElement(QStringLiteral("slicing"));
        root.appendChild(slicing);
        slicing.setAttribute(QStringLiteral("loop"), loop ? loop->getFilename() : QString());
        slicing.setAttribute(QStringLiteral("start"), cuts.startMarker);
        slicing.setAttribute(QStringLiteral("end"), cuts.endMarker);
        QStringList points;
        for (unsigned long point : cuts.points)
            points.append(QString::number(point));
        slicing.setAttribute(QStringLiteral("points"), points.join(' '));
    }
    return document.toByteArray(0);
}

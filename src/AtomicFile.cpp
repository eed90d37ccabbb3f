#include "AtomicFile.h"

#include <QDebug>
#include <QSaveFile>

bool AtomicFile::write(const QString& fileName, const QByteArray& data, QString* error)
{
    // Unbuffered: a write that fails while Qt flushes its buffer on commit
    // goes unnoticed, and the truncated file would be put in place.
    QSaveFile file(fileName);
    QString reason;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        reason = QStringLiteral("cannot create the file: %1").arg(file.errorString());
    else if (file.write(data) != data.size())
        reason = QStringLiteral("cannot write the file: %1").arg(file.errorString());
    else if (!file.commit())
        reason = QStringLiteral("cannot write the file: %1").arg(file.errorString());
    if (reason.isEmpty())
        return true;
    file.cancelWriting();
    qDebug() << "Failed to write" << fileName << reason;
    if (error)
        *error = reason;
    return false;
}

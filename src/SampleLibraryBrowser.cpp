#include "SampleLibraryBrowser.h"

#include "Settings.h"

#include <QDirModel>
#include <QKeyEvent>

const char* const SampleLibraryBrowser::kSampleLibPathKey = "SampleLibPath";

SampleLibraryBrowser::SampleLibraryBrowser(QDirModel* model) : QTreeView(nullptr), m_pModel(model)
{
    setMinimumWidth(200);
    setModel(m_pModel);
    setLibraryPath(Settings::instance()->getSetting(kSampleLibPathKey));
    connect(this, &QTreeView::clicked, this, &SampleLibraryBrowser::selectSample);
    setDragDropMode(QAbstractItemView::DragOnly);
    hideColumn(3);
    hideColumn(2);
    hideColumn(1);
}

QDirModel* SampleLibraryBrowser::createModel(QObject* parent)
{
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    return new QDirModel(parent);
    QT_WARNING_POP
}

void SampleLibraryBrowser::setLibraryPath(const QString& path)
{
    // index("") would be the model's top level too, but only by accident.
    const QModelIndex root = path.isEmpty() ? QModelIndex() : m_pModel->index(path);
    // The model reads a folder once; one chosen again may have new samples.
    if (root.isValid())
        m_pModel->refresh(root);
    setRootIndex(root);
}

void SampleLibraryBrowser::selectSample(QModelIndex index)
{
    if (!index.isValid())
        return;
    emit sampleSelected(m_pModel->filePath(index));
}

void SampleLibraryBrowser::keyPressEvent(QKeyEvent* event)
{
    QTreeView::keyPressEvent(event);
    if (event->key() != Qt::Key_Up && event->key() != Qt::Key_Down)
        return;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (!selected.isEmpty())
        emit sampleSelected(m_pModel->filePath(selected.first()));
}

#pragma once

#include <QModelIndex>
#include <QString>
#include <QTreeView>

class QDirModel;

// A file tree of the user's sample library, rooted at the "SampleLibPath"
// setting. Clicking an entry, or moving to one with Up or Down, announces its
// path (folders too: the receiver decides what it can play). Entries can be
// dragged out.
class SampleLibraryBrowser : public QTreeView
{
    Q_OBJECT
public:
    static const char* const kSampleLibPathKey;

    // The model is not owned.
    explicit SampleLibraryBrowser(QDirModel* model);

    // A directory model for the browser. The toolkit deprecates QDirModel for
    // its asynchronous successor; the synchronous one keeps the tree and the
    // keyboard selection in step, so it stays, built in this one place.
    static QDirModel* createModel(QObject* parent);

    // Shows the folder as the tree's top; an empty or unknown path shows the
    // model's top level.
    void setLibraryPath(const QString& path);

signals:
    void sampleSelected(QString filePath);

public slots:
    void selectSample(QModelIndex index);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QDirModel* m_pModel = nullptr;
};

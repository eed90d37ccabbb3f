#include "SampleLibraryBrowser.h"

#include "EngineTestSupport.h"
#include "Settings.h"
#include "ViewTestSupport.h"

#include <QDirModel>
#include <QSignalSpy>

#include <memory>

namespace {

class SampleLibraryBrowserTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        m_browser.reset();
        Settings::resetInstanceForTests();
    }
    void open(const QString& libraryPath)
    {
        m_browser.reset();
        EngineTestSupport::useFreshSettings(m_dir + "/data", {{"SampleLibPath", libraryPath}});
        m_browser = std::make_unique<SampleLibraryBrowser>(&m_model);
        m_browser->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_browser.get()));
        m_spy.reset(new QSignalSpy(m_browser.get(), &SampleLibraryBrowser::sampleSelected));
    }
    QString path(int row)
    {
        return m_model.filePath(m_model.index(row, 0, m_browser->rootIndex()));
    }
    QString announced() { return m_spy->isEmpty() ? "" : m_spy->takeFirst().at(0).toString(); }
    void key(Qt::Key key) { QTest::keyClick(m_browser.get(), key); }

    QString m_dir = TestAudio::scratchDir(ViewTest::testName());
    QObject m_modelOwner;
    QDirModel& m_model = *SampleLibraryBrowser::createModel(&m_modelOwner);
    std::unique_ptr<SampleLibraryBrowser> m_browser;
    std::unique_ptr<QSignalSpy> m_spy;
};

TEST_F(SampleLibraryBrowserTest, ClicksAndArrowKeysAnnounceThePathOtherKeysNothing)
{
    QDir().mkpath(m_dir + "/library/kits");
    for (const char* file : {"a.wav", "b.wav", "c.wav"})
        ASSERT_TRUE(TestAudio::writeBytes(m_dir + "/library/" + file, "RIFF"));
    open(m_dir + "/library");
    ASSERT_EQ(m_model.rowCount(m_browser->rootIndex()), 4);
    // A folder is announced too; the receiver decides what it can play.
    for (int row : {1, 3}) {
        const QRect cell = m_browser->visualRect(m_model.index(path(row)));
        QTest::mouseClick(m_browser->viewport(), Qt::LeftButton, {}, cell.center());
        EXPECT_EQ(announced(), path(row));
    }
    key(Qt::Key_Up);
    EXPECT_EQ(announced(), path(2));
    key(Qt::Key_Down);
    EXPECT_EQ(announced(), path(3));
    for (Qt::Key other : {Qt::Key_Right, Qt::Key_A, Qt::Key_Return, Qt::Key_PageDown})
        key(other);
    EXPECT_TRUE(m_spy->isEmpty());
    // An empty folder has nothing to announce; an unknown path shows the top.
    QDir().mkpath(m_dir + "/empty");
    open(m_dir + "/empty");
    key(Qt::Key_Down);
    key(Qt::Key_Up);
    EXPECT_TRUE(m_spy->isEmpty());
    open(m_dir + "/nowhere");
    EXPECT_FALSE(m_browser->rootIndex().isValid());
}

} // namespace

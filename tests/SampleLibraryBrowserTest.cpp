#include "SampleLibraryBrowser.h"

#include "EngineTestSupport.h"
#include "Settings.h"
#include "TestAudio.h"

#include <QDir>
#include <QDirModel>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class SampleLibraryBrowserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_dir = TestAudio::scratchDir(name);
        m_library = m_dir + "/library";
        QDir().mkpath(m_library + "/kits");
        QDir().mkpath(m_dir + "/empty");
        for (const char* file : {"a.wav", "b.wav", "c.wav"})
            ASSERT_TRUE(TestAudio::writeBytes(m_library + "/" + file, "RIFF"));
    }
    void TearDown() override
    {
        m_browser.reset();
        Settings::resetInstanceForTests();
    }

    void open(const QString& libraryPath)
    {
        EngineTestSupport::useFreshSettings(m_dir + "/data", {{"SampleLibPath", libraryPath}});
        m_browser = std::make_unique<SampleLibraryBrowser>(&m_model);
        m_browser->resize(300, 300);
        m_browser->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_browser.get()));
        m_browser->setFocus();
    }
    QModelIndex row(int r) { return m_model.index(r, 0, m_browser->rootIndex()); }
    QString path(int r) { return m_model.filePath(row(r)); }
    void clickRow(int r)
    {
        QTest::mouseClick(m_browser->viewport(), Qt::LeftButton, {},
                          m_browser->visualRect(row(r)).center());
    }

    QString m_dir;
    QString m_library;
    QObject m_modelOwner;
    QDirModel& m_model = *SampleLibraryBrowser::createModel(&m_modelOwner);
    std::unique_ptr<SampleLibraryBrowser> m_browser;
};

TEST_F(SampleLibraryBrowserTest, ClicksAndArrowKeysAnnounceThePathOtherKeysNothing)
{
    open(m_library);
    EXPECT_EQ(m_model.filePath(m_browser->rootIndex()), m_library);
    EXPECT_TRUE(m_browser->isColumnHidden(1));
    EXPECT_TRUE(m_browser->isColumnHidden(3));
    EXPECT_FALSE(m_browser->isColumnHidden(0));
    ASSERT_EQ(m_model.rowCount(m_browser->rootIndex()), 4);

    QSignalSpy spy(m_browser.get(), &SampleLibraryBrowser::sampleSelected);
    clickRow(1);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.takeFirst().at(0).toString(), path(1));
    QTest::keyClick(m_browser.get(), Qt::Key_Down);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.takeFirst().at(0).toString(), path(2));
    QTest::keyClick(m_browser.get(), Qt::Key_Up);
    QTest::keyClick(m_browser.get(), Qt::Key_Up);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy.at(1).at(0).toString(), path(0));
    spy.clear();
    for (Qt::Key key : {Qt::Key_Right, Qt::Key_A, Qt::Key_Return, Qt::Key_PageDown})
        QTest::keyClick(m_browser.get(), key);
    EXPECT_EQ(spy.count(), 0);

    // Folders are announced too; the receiver decides.
    const QModelIndex kits = m_model.index(m_library + "/kits");
    QTest::mouseClick(m_browser->viewport(), Qt::LeftButton, {},
                      m_browser->visualRect(kits).center());
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toString(), m_library + "/kits");
}

TEST_F(SampleLibraryBrowserTest, EmptyFolderAndUnknownPath)
{
    open(m_dir + "/empty");
    QSignalSpy spy(m_browser.get(), &SampleLibraryBrowser::sampleSelected);
    QTest::keyClick(m_browser.get(), Qt::Key_Down);
    QTest::keyClick(m_browser.get(), Qt::Key_Up);
    EXPECT_EQ(spy.count(), 0);

    m_browser.reset();
    open(m_dir + "/nowhere");
    EXPECT_FALSE(m_browser->rootIndex().isValid());
    m_browser.reset();
    open("");
    EXPECT_FALSE(m_browser->rootIndex().isValid());
}

} // namespace

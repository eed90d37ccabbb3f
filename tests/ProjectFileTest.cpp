#include "BankSampler.h"
#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "LogCapture.h"
#include "Slice.h"
#include "SliceEngine.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <memory>

using namespace EngineTestSupport;
using namespace SliceTestSupport;

namespace {

class ProjectFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir =
            TestAudio::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        useFreshSettings(m_dir + "/data", silentDevices());
        ASSERT_TRUE(QDir().mkpath(m_dir + "/project"));
        ASSERT_TRUE(QDir().mkpath(m_dir + "/samples"));
        m_beside = writeWav(m_dir + "/project", "kick.wav", 4000);
        m_sibling = writeWav(m_dir + "/samples", "hat.wav", 6000);
        LogCapture::clear();
        m_engine.reset(new SliceEngine());
    }

    BankSampler* bank() { return m_engine->getBankSampler(); }

    QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString write(const QString& name, const QByteArray& text)
    {
        const QString path = m_dir + "/project/" + name;
        EXPECT_TRUE(TestAudio::writeBytes(path, text));
        return path;
    }

    QString m_dir;
    QString m_beside;
    QString m_sibling;
    std::unique_ptr<SliceEngine> m_engine;
};

// Every property a project keeps of a pad, in one line.
QString describe(const QSharedPointer<Slice>& pad)
{
    if (!pad)
        return "empty";
    return QString("%1 %2 %3 %4 %5 %6 %7 %8 %9")
        .arg(pad->getPitch())
        .arg(pad->getTimeStretchRatio(), 0, 'g', 17)
        .arg(pad->getLoopMode())
        .arg(pad->getLoopStart())
        .arg(pad->getLoopEnd())
        .arg(static_cast<double>(pad->getGain()), 0, 'g', 9)
        .arg(pad->isReversed())
        .arg(pad->getChokeGroup())
        .arg(pad->getLength());
}

TEST_F(ProjectFileTest, TempoAndEveryPadPropertyComeBackWithRelativeNames)
{
    m_engine->setBPM(93);
    bank()->loadSample(0, m_beside, -5, 1.75, 2, 1000, 3000, 0.3f, true, "Hi-hats");
    bank()->loadSample(5, m_sibling, 7, 0.1, 1, 200, 0, 1.0f, false, "Other");
    const QString pad0 = describe(bank()->getSample(0));
    const QString pad5 = describe(bank()->getSample(5));
    EXPECT_EQ(pad0, "-5 1.75 2 1000 3000 0.300000012 1 Hi-hats 8000");
    const QString path = m_dir + "/project/set.tmx";
    ASSERT_TRUE(m_engine->saveProject(path));

    QDomDocument document;
    ASSERT_TRUE(document.setContent(read(path)));
    EXPECT_EQ(document.doctype().name(), "project");
    const QDomElement root = document.documentElement();
    EXPECT_EQ(root.tagName(), "project");
    EXPECT_EQ(root.firstChildElement().tagName(), "Engine");
    EXPECT_EQ(root.firstChildElement("Engine").attribute("bpm"), "93");
    const QDomNodeList samples = root.firstChildElement("BankSampler").elementsByTagName("Sample");
    ASSERT_EQ(samples.count(), 2);
    const QDomElement first = samples.at(0).toElement();
    EXPECT_EQ(first.attribute("filename"), "kick.wav");
    EXPECT_EQ(first.attribute("index"), "0");
    EXPECT_EQ(first.attribute("timestretchratio"), "1.75");
    EXPECT_EQ(first.attribute("gain"), "0.3");
    EXPECT_EQ(first.attribute("reversed"), "1");
    EXPECT_EQ(samples.at(1).toElement().attribute("filename"), "../samples/hat.wav");
    EXPECT_EQ(samples.at(1).toElement().attribute("index"), "5");

    // Into a fresh engine, after moving the project and its samples together.
    m_engine.reset();
    ASSERT_TRUE(QDir().rename(m_dir + "/project", m_dir + "/moved"));
    ASSERT_TRUE(QDir().rename(m_dir + "/samples", m_dir + "/moved-samples"));
    ASSERT_TRUE(QDir().mkpath(m_dir + "/samples"));
    ASSERT_TRUE(QFile::rename(m_dir + "/moved-samples/hat.wav", m_dir + "/samples/hat.wav"));
    m_engine.reset(new SliceEngine());
    ASSERT_TRUE(m_engine->loadProject(m_dir + "/moved/set.tmx"));
    EXPECT_EQ(m_engine->getBPM(), 93u);
    EXPECT_EQ(bank()->getMasterTempo(), 93);
    for (int pad = 0; pad < BankSampler::PadCount; ++pad) {
        const QString expected = pad == 0 ? pad0 : pad == 5 ? pad5 : "empty";
        EXPECT_EQ(describe(bank()->getSample(pad)), expected) << pad;
    }
    EXPECT_EQ(bank()->getSample(0)->getFilename(), m_dir + "/moved/kick.wav");
    EXPECT_EQ(bank()->getSample(5)->getFilename(), m_dir + "/moved/../samples/hat.wav");
    EXPECT_EQ(bank()->getChokeGroupPads("Hi-hats"), QList<quint32>{0});
}

TEST_F(ProjectFileTest, MissingAttributesTakeDefaultsAndBadEntriesAreSkipped)
{
    bank()->loadSample(9, m_beside, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    m_engine->setBPM(101);
    const QString path = write("hand.tmx", "<!DOCTYPE project>\n<project>\n"
                                           " <Unknown/>\n"
                                           " <BankSampler>\n"
                                           "  <Sample filename=\"kick.wav\" index=\"1\"/>\n"
                                           "  <Sample filename=\"kick.wav\" index=\"16\"/>\n"
                                           "  <Sample filename=\"kick.wav\" index=\"-1\"/>\n"
                                           "  <Sample filename=\"gone.wav\" index=\"2\"/>\n"
                                           "  <Other filename=\"kick.wav\" index=\"4\"/>\n"
                                           "  <Sample filename=\"kick.wav\" index=\"3\"/>\n"
                                           "  <Sample filename=\"../samples/hat.wav\" index=\"3\""
                                           " gain=\"loud\" loopend=\"500\"/>\n"
                                           "  <Sample filename=\"kick.wav\"/>\n"
                                           " </BankSampler>\n"
                                           "</project>\n");
    ASSERT_TRUE(m_engine->loadProject(path));
    // No Engine element: the tempo stays.
    EXPECT_EQ(m_engine->getBPM(), 101u);

    EXPECT_EQ(describe(bank()->getSample(1)), "0 1 0 0 8000 1 0 None 8000");
    // A later entry for a pad replaces the earlier; text that is no number reads as 0.
    EXPECT_EQ(bank()->getSample(3)->getFilename(), m_dir + "/project/../samples/hat.wav");
    EXPECT_EQ(bank()->getSample(3)->getGain(), 0.0f);
    EXPECT_EQ(bank()->getSample(3)->getLoopEnd(), 500u);
    // No index: pad 0.
    EXPECT_TRUE(bank()->hasSample(0));
    // The pad whose file is missing is named in the log; the others loaded.
    EXPECT_TRUE(LogCapture::containsAll({"could not load pad", "2", "gone.wav"}));
    EXPECT_EQ(bank()->getSample(2)->getLength(), 0u);
    for (int pad : {4, 9, 15})
        EXPECT_FALSE(bank()->hasSample(pad)) << pad;

    // An empty bank writes an empty element, and loading it empties the pads.
    m_engine->newProject();
    ASSERT_TRUE(m_engine->saveProject(m_dir + "/project/empty.tmx"));
    QDomDocument document;
    ASSERT_TRUE(document.setContent(read(m_dir + "/project/empty.tmx")));
    const QDomElement element = document.documentElement().firstChildElement("BankSampler");
    ASSERT_FALSE(element.isNull());
    EXPECT_FALSE(element.hasChildNodes());
    bank()->loadSample(6, m_beside, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    ASSERT_TRUE(m_engine->loadProject(m_dir + "/project/empty.tmx"));
    EXPECT_FALSE(bank()->hasSample(6));

    // A tempo that is no number becomes 0.
    ASSERT_TRUE(
        m_engine->loadProject(write("bpm.tmx", "<project><Engine bpm=\"fast\"/></project>")));
    EXPECT_EQ(m_engine->getBPM(), 0u);
}

TEST_F(ProjectFileTest, UnreadableProjectsChangeNothing)
{
    m_engine->setBPM(88);
    bank()->loadSample(0, m_beside, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    const QSharedPointer<Slice> before = bank()->getSample(0);

    EXPECT_FALSE(m_engine->loadProject(m_dir + "/project/none.tmx"));
    EXPECT_TRUE(LogCapture::containsAll({"Failed to open", "none.tmx"}));
    const QString broken =
        write("broken.tmx", "<project><Engine bpm=\"60\"/><BankSampler></project>");
    EXPECT_FALSE(m_engine->loadProject(broken));
    EXPECT_TRUE(LogCapture::containsAll({"Invalid project file:", "broken.tmx"}));
    EXPECT_FALSE(m_engine->loadProject(m_beside));
    EXPECT_EQ(m_engine->getBPM(), 88u);
    EXPECT_EQ(bank()->getSample(0), before);
}

TEST_F(ProjectFileTest, SavingAddsTheExtensionAndNeverLeavesAHalfFile)
{
    const QString dir = m_dir + "/project/";
    ASSERT_TRUE(m_engine->saveProject(dir + "plain"));
    EXPECT_TRUE(QFile::exists(dir + "plain.tmx"));
    ASSERT_TRUE(m_engine->saveProject(dir + "upper.TMX"));
    EXPECT_TRUE(QFile::exists(dir + "upper.TMX"));
    EXPECT_FALSE(QFile::exists(dir + "upper.TMX.tmx"));
    ASSERT_TRUE(m_engine->saveProject(dir + "set.tmx.bak"));
    EXPECT_TRUE(QFile::exists(dir + "set.tmx.bak.tmx"));

    EXPECT_FALSE(m_engine->saveProject(m_beside + "/inside.tmx"));
    EXPECT_TRUE(LogCapture::containsAll({"Failed to write", "inside.tmx", "SliceEngine.cpp"}));

    // Disk full: the previous project stays as it was.
    const QByteArray old = read(dir + "plain.tmx");
    for (int pad = 0; pad < BankSampler::PadCount; ++pad)
        bank()->loadSample(pad, m_beside, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    rlimit small = limit;
    small.rlim_cur = 512;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = m_engine->saveProject(dir + "plain.tmx");
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(read(dir + "plain.tmx"), old);
    EXPECT_EQ(QDir(dir).entryList({"plain*"}, QDir::Files | QDir::Hidden),
              QStringList{"plain.tmx"});
}

} // namespace

#include "SamplerPadWidget.h"

#include "BankSampler.h"
#include "EngineTestSupport.h"
#include "LoopEditorWidget.h"
#include "Settings.h"
#include "TimeStretchWidget.h"
#include "ViewTestSupport.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>

#include <memory>

using namespace ViewTest;

namespace {

// Half a second, so a triggered pad keeps playing while a test looks.
const long kPadFrames = 22050;

// Replaces the file dialog by a given answer and records where it was opened.
class TestPad : public SamplerPadWidget
{
public:
    using SamplerPadWidget::SamplerPadWidget;
    QString answer;
    QStringList askedIn;

protected:
    QString askSampleFileName(const QString& startDirectory) override
    {
        askedIn.append(startDirectory);
        return answer;
    }
};

template <typename T> T* child(QWidget* parent, const char* name)
{
    T* widget = parent->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}
int page(QWidget* pad)
{
    return child<QStackedWidget>(pad, "stackedWidget")->currentIndex();
}
void clickAt(QWidget* widget, const QPoint& pos = QPoint(5, 5))
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, pos);
}
void clickProperties(QWidget* pad)
{
    clickAt(child<QAbstractButton>(pad, "pushButtonProperties"));
}
void clickItem(QWidget* pad, const char* list, const QString& text)
{
    auto* widget = child<QListWidget>(pad, list);
    const QList<QListWidgetItem*> items = widget->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << text.toStdString();
    clickAt(widget->viewport(), widget->visualItemRect(items.first()).center());
}
// Properties, then the named property page.
void openPage(QWidget* pad, const QString& item)
{
    clickProperties(pad);
    clickItem(pad, "PropertiesListWidget", item);
}

class SamplerPadWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override { EngineTestSupport::useFreshSettings(m_dir + "/data"); }
    void TearDown() override
    {
        m_pads.clear();
        Settings::resetInstanceForTests();
    }

    QString writeSample(const QString& name)
    {
        return writeLoop(m_dir, TestAudio::sine(441.0, 44100), kPadFrames, name);
    }
    TestPad* makePad(int index)
    {
        m_pads.push_back(std::make_unique<TestPad>(nullptr, &m_bank, index));
        TestPad* pad = m_pads.back().get();
        pad->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(pad));
        return pad;
    }
    // A pad that holds a filled sample, loaded the way the UI loads.
    TestPad* loadedPad(int index, const QString& name = "kick.wav")
    {
        TestPad* pad = makePad(index);
        m_bank.loadSample(index, writeSample(name), 0, 1.0, 0, 0, 0, 1.0f, false, "None");
        waitForFill(m_bank.getSample(index));
        return pad;
    }
    bool playing(int index) { return m_bank.getSample(index)->isPlaying(); }

    QString m_dir = TestAudio::scratchDir(testName());
    BankSampler m_bank;
    std::vector<std::unique_ptr<TestPad>> m_pads;
};

TEST_F(SamplerPadWidgetTest, EmptyPadAsksForAFileAndClearingEmptiesIt)
{
    TestPad* pad = makePad(0);
    pad->slotReverseSample(); // nothing to reverse
    Settings::instance()->setSetting("last_load_path", m_dir + "/elsewhere");
    clickAt(pad); // cancelled
    EXPECT_EQ(pad->askedIn, QStringList{m_dir + "/elsewhere"});
    EXPECT_FALSE(m_bank.hasSample(0));
    pad->answer = writeSample("kick.wav");
    clickAt(pad);
    ASSERT_TRUE(m_bank.hasSample(0));
    const QSharedPointer<Slice> sample = m_bank.getSample(0);
    // Loaded: a press on the waveform (which passes it on) plays instead of asking.
    waitForFill(sample);
    auto* view = pad->findChild<SampleRenderer*>("sampleRenderer");
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(pad->askedIn.size(), 2);
    EXPECT_TRUE(sample->isPlaying());
    // A new project empties the bank; the refreshed pad lets go of the sample.
    openPage(pad, "Looping");
    m_bank.clearBank();
    pad->slotRefreshFromBankSampler(0);
    EXPECT_EQ(page(pad), SamplerPadWidget::FacePage);
    EXPECT_FALSE(view->getSlice());
    pad->answer.clear();
    clickAt(pad);
    EXPECT_EQ(pad->askedIn.size(), 3);
}

TEST_F(SamplerPadWidgetTest, LoopModesAndTheLoopEditorOnWholeFrames)
{
    TestPad* pad = loadedPad(0);
    const auto chooseLoopMode = [pad](const char* radio) {
        openPage(pad, "Looping");
        clickAt(child<QAbstractButton>(pad, radio));
        clickProperties(pad);
        clickProperties(pad);
    };
    chooseLoopMode("radioButtonLoopToggle");
    for (bool expected : {true, false, true}) {
        clickAt(pad);
        EXPECT_EQ(playing(0), expected);
    }
    chooseLoopMode("radioButtonLoopOn");
    QTest::mousePress(pad, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(playing(0));
    QTest::mouseRelease(pad, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(playing(0));
    // The loop editor: right places the end, left the start; an odd position
    // would swap the channels, and the start never passes the end.
    const QSharedPointer<Slice> sample = m_bank.getSample(0);
    openPage(pad, "Looping");
    auto* editor = pad->findChild<LoopEditorWidget*>();
    ASSERT_TRUE(editor && editor->isVisible());
    const double length = sample->getLength();
    const int w = editor->width();
    QTest::mousePress(editor, Qt::RightButton, {}, QPoint(w / 2, 5));
    EXPECT_NEAR(double(sample->getLoopEnd()), length / 2, length / w + 2);
    EXPECT_EQ(sample->getLoopEnd() % 2, 0u);
    QTest::mousePress(editor, Qt::LeftButton, {}, QPoint(w * 3 / 4, 5));
    EXPECT_EQ(sample->getLoopStart(), 0u);
    dragTo(editor, QPoint(w / 4, 5));
    EXPECT_NEAR(double(sample->getLoopStart()), length / 4, length / w + 2);
}

TEST_F(SamplerPadWidgetTest, PropertyPagesBackAndEscape)
{
    TestPad* pad = loadedPad(0);
    const QStringList items{"Pitch and Gain", "Time Stretch", "Looping", "Choke Group"};
    for (int row = 0; row < items.size(); ++row) {
        openPage(pad, items.at(row));
        EXPECT_EQ(page(pad), row + 2);
        EXPECT_EQ(child<QPushButton>(pad, "pushButtonProperties")->text(), "Back");
        clickAt(pad); // the mouse does nothing on a property page
        EXPECT_FALSE(playing(0));
        clickProperties(pad);
        EXPECT_EQ(page(pad), SamplerPadWidget::PropertiesPage);
        clickProperties(pad);
        EXPECT_EQ(page(pad), SamplerPadWidget::FacePage);
    }
    // Embedded in a panel, Escape does not hide a pad.
    QWidget panel;
    auto* embedded = new SamplerPadWidget(&panel, &m_bank, 5);
    embedded->setWindowFlags(Qt::Widget);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    QTest::keyClick(embedded, Qt::Key_Escape);
    EXPECT_TRUE(embedded->isVisible());
}

TEST_F(SamplerPadWidgetTest, ChokeGroupsChosenInTheList)
{
    TestPad* open = loadedPad(0, "open.wav");
    TestPad* closed = loadedPad(1, "closed.wav");
    for (TestPad* pad : {open, closed}) {
        openPage(pad, "Choke Group");
        clickItem(pad, "listWidgetChokeGroup", "Hi-hats");
        clickProperties(pad);
        clickProperties(pad);
    }
    clickAt(open);
    clickAt(closed);
    EXPECT_FALSE(playing(0));
    EXPECT_TRUE(playing(1));
    // Coming back shows the pad's group and, being no choice, leaves the groups alone.
    openPage(open, "Choke Group");
    EXPECT_EQ(child<QListWidget>(open, "listWidgetChokeGroup")->currentItem()->text(), "Hi-hats");
    EXPECT_EQ(m_bank.getChokeGroupPads("Hi-hats"), (QList<quint32>{0, 1}));
    clickItem(open, "listWidgetChokeGroup", "Other");
    EXPECT_EQ(m_bank.getChokeGroupPads("Hi-hats"), (QList<quint32>{1}));
}

TEST_F(SamplerPadWidgetTest, StretchPickerCellsAndTheBeatLabel)
{
    TimeStretchWidget picker;
    showAt(&picker, 160, 100);
    QSignalSpy spy(&picker, &TimeStretchWidget::stretch);
    for (int row = 0; row < TimeStretchWidget::kRows; ++row) {
        const int cells = row == 0 ? 4 : 8;
        for (int column = 0; column < cells; ++column) {
            const QPoint centre((2 * column + 1) * 160 / (2 * cells), (2 * row + 1) * 10);
            QTest::mousePress(&picker, Qt::LeftButton, {}, centre);
            ASSERT_EQ(spy.count(), 1);
            const float expected = row == 0 ? 0.25f * (column + 1) : (row - 1) * 8 + column + 1;
            EXPECT_EQ(spy.takeFirst().at(0).toFloat(), expected) << row << "," << column;
        }
    }
    TestPad* pad = loadedPad(0);
    auto* label = child<QLabel>(pad, "labelTimeStretch");
    pad->slotTimeStretchBeats(1.0f);
    EXPECT_EQ(label->text(), "1 beat");
    pad->slotTimeStretchBeats(1.25f);
    EXPECT_EQ(label->text(), "1.25 beats");
}

} // namespace

#include "SamplerPadWidget.h"

#include "BankSampler.h"
#include "EngineTestSupport.h"
#include "LoopEditorWidget.h"
#include "Settings.h"
#include "TimeStretchWidget.h"
#include "ViewTestSupport.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QUrl>

#include <memory>
#include <thread>

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
    QMenu* menu() const { return m_pContextMenu; }
    QAction* reverseAction() const { return m_pActionReverse; }

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
void clickButton(QWidget* pad, const char* name)
{
    QTest::mouseClick(child<QAbstractButton>(pad, name), Qt::LeftButton);
}
void clickItem(QListWidget* list, const QString& text)
{
    const QList<QListWidgetItem*> items = list->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << text.toStdString();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(items.first()).center());
}
// Properties, then the named property page.
void openPage(QWidget* pad, const QString& item)
{
    clickButton(pad, "pushButtonProperties");
    clickItem(child<QListWidget>(pad, "PropertiesListWidget"), item);
}
void click(QWidget* pad)
{
    QTest::mouseClick(pad, Qt::LeftButton, {}, QPoint(5, 5));
}

class SamplerPadWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(testName());
        EngineTestSupport::useFreshSettings(m_dir + "/data");
    }
    void TearDown() override
    {
        m_pads.clear();
        Settings::resetInstanceForTests();
    }

    QString writeSample(const QString& name)
    {
        const QString path = m_dir + "/" + name;
        EXPECT_TRUE(TestAudio::writeFile(path, kPadFrames, 2, 44100,
                                         SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                         TestAudio::sine(441.0, 44100)));
        return path;
    }
    TestPad* makePad(int index)
    {
        m_pads.push_back(std::make_unique<TestPad>(nullptr, &m_bank, index));
        TestPad* pad = m_pads.back().get();
        pad->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(pad));
        keepGlDriverLoaded();
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

    QString m_dir;
    BankSampler m_bank;
    std::vector<std::unique_ptr<TestPad>> m_pads;
};

TEST_F(SamplerPadWidgetTest, EmptyPadAsksForAFileDropLoadsAndClearingEmptiesIt)
{
    TestPad* pad = makePad(0);
    auto* properties = child<QPushButton>(pad, "pushButtonProperties");
    QTest::mousePress(pad, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_FALSE(pad->reverseAction()->isEnabled());
    pad->menu()->hide();
    pad->slotReverseSample(); // nothing to reverse
    Settings::instance()->setSetting("last_load_path", m_dir + "/elsewhere");
    click(pad); // cancelled
    EXPECT_EQ(pad->askedIn, QStringList{m_dir + "/elsewhere"});
    EXPECT_FALSE(m_bank.hasSample(0));

    QDir().mkpath(m_dir + "/sounds");
    pad->answer = writeSample("sounds/a_very_long_sample_name.wav");
    click(pad);
    ASSERT_TRUE(m_bank.hasSample(0));
    const QSharedPointer<Slice> sample = m_bank.getSample(0);
    EXPECT_EQ(child<QLabel>(pad, "labelName")->text(), "a_very_lon...");
    EXPECT_EQ(Settings::instance()->getSetting("last_load_path"), m_dir + "/sounds");

    // Loaded: a press on the waveform (which passes it on) plays instead of asking.
    waitForFill(sample);
    auto* view = pad->findChild<SampleRenderer*>("sampleRenderer");
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(pad->askedIn.size(), 2);
    EXPECT_TRUE(sample->isPlaying());

    // A drop reaches the widget that accepted the drag's entry; only a local
    // file, the first one, is taken.
    const auto drop = [pad](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(pad, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(pad, &drop);
    };
    drop({QUrl("http://example.invalid/x.wav")});
    EXPECT_EQ(m_bank.getSample(0), sample);
    const QString snare = writeSample("snare.wav");
    drop({QUrl::fromLocalFile(snare), QUrl::fromLocalFile(m_dir + "/other.wav")});
    EXPECT_EQ(m_bank.getSample(0)->getFilename(), snare);

    // A new project empties the bank; the refreshed pad lets go of the sample.
    openPage(pad, "Looping");
    m_bank.clearBank();
    pad->slotRefreshFromBankSampler(0);
    EXPECT_EQ(page(pad), SamplerPadWidget::FacePage);
    EXPECT_FALSE(properties->isEnabled());
    EXPECT_EQ(properties->text(), "Properties");
    EXPECT_FALSE(view->getSlice());
    pad->answer.clear();
    click(pad);
    EXPECT_EQ(pad->askedIn.size(), 3);
}

TEST_F(SamplerPadWidgetTest, LoopModesDecideWhatPressAndReleaseDo)
{
    TestPad* pad = loadedPad(0);
    const auto chooseLoopMode = [pad](const char* radio) {
        openPage(pad, "Looping");
        clickButton(pad, radio);
        clickButton(pad, "pushButtonProperties");
        clickButton(pad, "pushButtonProperties");
    };
    chooseLoopMode("radioButtonLoopToggle");
    EXPECT_EQ(m_bank.getSample(0)->getLoopMode(), 2);
    for (bool expected : {true, false, true}) {
        click(pad);
        EXPECT_EQ(playing(0), expected);
    }
    chooseLoopMode("radioButtonLoopOn");
    QTest::mousePress(pad, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(playing(0));
    QTest::mouseRelease(pad, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(playing(0));
    chooseLoopMode("radioButtonLoopOff");
    click(pad);
    click(pad); // restarts rather than stops
    EXPECT_TRUE(playing(0));
}

TEST_F(SamplerPadWidgetTest, PlayingColourAlsoForMidiOnTheAudioThread)
{
    TestPad* pad = loadedPad(0);
    auto* view = pad->findChild<SampleRenderer*>("sampleRenderer");
    const auto corner = [&] { return QColor(frame(view).pixel(1, 1)); };
    std::thread midi([this] { m_bank.handleNote(36, true); });
    midi.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(corner(), QColor(128, 128, 40));
    // Rendering to the end stops the pad by itself.
    std::vector<float> buffer(8192);
    for (int i = 0; i < 40 && playing(0); ++i)
        m_bank.render(buffer.data(), buffer.size());
    ASSERT_FALSE(playing(0));
    QCoreApplication::processEvents();
    EXPECT_EQ(corner(), QColor(0, 0, 0));
}

TEST_F(SamplerPadWidgetTest, PropertyPagesBackAndValuesShownWithoutEcho)
{
    TestPad* pad = loadedPad(0);
    const QStringList items{"Pitch and Gain", "Time Stretch", "Looping", "Choke Group"};
    for (int row = 0; row < items.size(); ++row) {
        openPage(pad, items.at(row));
        EXPECT_EQ(page(pad), row + 2);
        EXPECT_EQ(child<QPushButton>(pad, "pushButtonProperties")->text(), "Back");
        click(pad); // the mouse does nothing on a property page
        EXPECT_FALSE(playing(0));
        clickButton(pad, "pushButtonProperties");
        EXPECT_EQ(page(pad), SamplerPadWidget::PropertiesPage);
        clickButton(pad, "pushButtonProperties");
        EXPECT_EQ(page(pad), SamplerPadWidget::FacePage);
    }
    auto* pitch = child<QSpinBox>(pad, "spinBoxPitchSemitones");
    pitch->setValue(-7);
    EXPECT_EQ(m_bank.getSample(0)->getPitch(), -7);
    // A new sample (as a project brings it) shows its own values.
    m_bank.loadSample(0, writeSample("tom.wav"), 3, 1.0, 1, 0, 0, 2.0f, false, "None");
    EXPECT_EQ(pitch->value(), 3);
    EXPECT_DOUBLE_EQ(child<QDoubleSpinBox>(pad, "spinBoxGain")->value(), 2.0);
    EXPECT_TRUE(child<QAbstractButton>(pad, "radioButtonLoopOn")->isChecked());

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
        clickItem(child<QListWidget>(pad, "listWidgetChokeGroup"), "Hi-hats");
        clickButton(pad, "pushButtonProperties");
        clickButton(pad, "pushButtonProperties");
    }
    EXPECT_EQ(m_bank.getChokeGroupPads("Hi-hats"), (QList<quint32>{0, 1}));
    click(open);
    click(closed);
    EXPECT_FALSE(playing(0));
    EXPECT_TRUE(playing(1));

    // Coming back shows the pad's group and, being no choice, leaves the groups alone.
    openPage(open, "Choke Group");
    auto* groups = child<QListWidget>(open, "listWidgetChokeGroup");
    EXPECT_EQ(groups->currentItem()->text(), "Hi-hats");
    EXPECT_EQ(m_bank.getChokeGroupPads("Hi-hats"), (QList<quint32>{0, 1}));
    clickItem(groups, "Other");
    EXPECT_EQ(m_bank.getChokeGroupPads("Hi-hats"), (QList<quint32>{1}));
}

TEST_F(SamplerPadWidgetTest, StretchPickerCellsAndTheBeatLabel)
{
    TimeStretchWidget picker;
    picker.resize(160, 100);
    picker.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&picker));
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
    QTest::mousePress(&picker, Qt::RightButton, {}, QPoint(10, 10)); // only a left press chooses
    EXPECT_EQ(spy.count(), 0);
    QTest::mousePress(&picker, Qt::LeftButton, {}, QPoint(30, 50)); // 10 beats
    const QImage image = picker.grab().toImage();
    EXPECT_EQ(QColor(image.pixel(21, 41)), QColor(Qt::green));
    EXPECT_EQ(QColor(image.pixel(2, 42)), QColor(Qt::black));

    TestPad* pad = loadedPad(0);
    auto* label = child<QLabel>(pad, "labelTimeStretch");
    pad->slotTimeStretchBeats(1.0f);
    EXPECT_EQ(label->text(), "1 beat");
    pad->slotTimeStretchBeats(1.25f);
    EXPECT_EQ(label->text(), "1.25 beats");
    // Through the page's picker: 2 beats at 120 bpm are 88200 samples.
    openPage(pad, "Time Stretch");
    auto* padPicker = pad->findChild<TimeStretchWidget*>();
    QTest::mousePress(padPicker, Qt::LeftButton, {},
                      QPoint(padPicker->width() * 3 / 16, padPicker->height() * 3 / 10));
    EXPECT_EQ(label->text(), "2 beats");
    EXPECT_NEAR(m_bank.getSample(0)->getTimeStretchRatio(), 88200.0 / (2 * kPadFrames), 1e-6);
}

TEST_F(SamplerPadWidgetTest, ReverseAndTheLoopEditorOnWholeFrames)
{
    TestPad* pad = loadedPad(0);
    const QSharedPointer<Slice> sample = m_bank.getSample(0);
    QTest::mousePress(pad, Qt::RightButton, {}, QPoint(5, 5));
    pad->reverseAction()->trigger();
    pad->menu()->hide();
    EXPECT_TRUE(sample->isReversed());

    // Right places the end, left the start; an odd position would swap the
    // channels, and the start never passes the end.
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

} // namespace

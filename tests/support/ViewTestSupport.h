#pragma once

// Header only: the support library does not link the widget modules.

#include "AudioCache.h"
#include "Kerfer.h"
#include "Slice.h"
#include "TestAudio.h"

#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGLWidget>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <QThread>
#include <QWheelEvent>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>

namespace ViewTest {

// 8 seconds of stereo: 705600 samples, 882 per pixel in an 800-pixel view.
const long kFrames = 352800;
const unsigned long kLength = 2 * kFrames;
const int kWidth = 800;
const int kHeight = 200;

inline QString testName()
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// 50 Hz crossing zero at frame 50 and every 441 frames after: at sample 100 + 882 k,
// 100 samples to the right of every pixel of the whole view.
inline float fiftyHz(long frame, int)
{
    return 0.8f * float(std::sin(2.0 * M_PI * double(frame - 50) / 882.0));
}

// A stereo 16-bit WAV at 44100 Hz.
inline QString writeLoop(const QString& dir, const TestAudio::Generator& gen = TestAudio::ramp,
                         long frames = kFrames, const QString& name = "loop.wav")
{
    const QString path = dir + "/" + name;
    EXPECT_TRUE(
        TestAudio::writeFile(path, frames, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16, gen));
    return path;
}

// Waits for a slice's background fill and delivers the queued progress signals.
inline void waitForFill(const QSharedPointer<Slice>& slice)
{
    QElapsedTimer timer;
    timer.start();
    while (!slice->getAudioCache()->isFilled() && timer.elapsed() < 30000)
        QThread::msleep(5);
    ASSERT_TRUE(slice->getAudioCache()->isFilled());
    QCoreApplication::processEvents();
}

inline void loadLoop(Kerfer* kerfer, const QString& path)
{
    ASSERT_TRUE(kerfer->slotLoadLoop(path));
    waitForFill(kerfer->getLoop());
}

inline void showAt(QWidget* widget, int width = kWidth, int height = kHeight)
{
    widget->resize(width, height);
    widget->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(widget));
    ASSERT_EQ(widget->width(), width);
}

// buttons: the buttons held after the event (none after a release).
inline void mouse(QWidget* widget, QEvent::Type type, const QPoint& pos,
                  Qt::MouseButton button = Qt::LeftButton, Qt::MouseButtons buttons = {},
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, modifiers);
    QCoreApplication::sendEvent(widget, &event);
}
inline void press(QWidget* widget, const QPoint& pos, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    mouse(widget, QEvent::MouseButtonPress, pos, button, button, modifiers);
}
inline void dragTo(QWidget* widget, const QPoint& pos, Qt::MouseButtons held = Qt::LeftButton)
{
    mouse(widget, QEvent::MouseMove, pos, Qt::NoButton, held);
}
inline void release(QWidget* widget, const QPoint& pos)
{
    mouse(widget, QEvent::MouseButtonRelease, pos);
}
inline void click(QWidget* widget, const QPoint& pos)
{
    press(widget, pos);
    release(widget, pos);
}
inline void drag(QWidget* widget, const QPoint& from, const QPoint& to)
{
    press(widget, from);
    dragTo(widget, to);
    release(widget, to);
}

inline void wheel(QWidget* widget, const QPoint& pos, int angleY, int angleX = 0)
{
    QWheelEvent event(pos, widget->mapToGlobal(pos), QPoint(), QPoint(angleX, angleY), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(widget, &event);
}

// The OpenGL paint engine may place an aliased line one pixel off: true when
// the pixel or a neighbour across the line (dx, dy: the step across) matches.
template <typename Match>
bool nearLine(const QImage& image, int x, int y, Match match, int dx = 1, int dy = 0)
{
    return match(image.pixel(x - dx, y - dy)) || match(image.pixel(x, y)) ||
           match(image.pixel(x + dx, y + dy));
}
inline auto is(const QColor& colour)
{
    return [colour](QRgb pixel) { return QColor(pixel).rgb() == colour.rgb(); };
}

// Paints the widget now and reads back what reached the framebuffer.
inline QImage frame(QGLWidget* widget)
{
    widget->repaint();
    return widget->grabFrameBuffer();
}

} // namespace ViewTest

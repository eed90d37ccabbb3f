#include <gtest/gtest.h>

#ifdef TAMBERLO_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "LogCapture.h"

#if defined(__SANITIZE_ADDRESS__)
// Libraries are never unloaded while a suite runs. The GL driver unloads
// itself, and the helper libraries it pulled in, when the display closes;
// whatever they still held then shows up as a leak "from <unknown module>",
// which no suppression by library name can match, and how much they hold
// depends on the machine (its sensors, its GPU). Kept loaded, their leftovers
// stay reachable from their own globals or are named and suppressed; our own
// code is linked in and never unloaded, so its leaks stay visible.
extern "C" int dlclose(void*)
{
    return 0;
}
#endif

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    int result = 0;
    {
        TestApplication app(argc, argv);
        LogCapture::install();
        result = RUN_ALL_TESTS();
    }
#if defined(__SANITIZE_ADDRESS__)
    // Checked here, while the libraries' worker threads (the GL driver's) are
    // idle, rather than at exit while their own handlers end them. A check
    // here replaces the one at exit.
    __lsan_do_leak_check();
#endif
    return result;
}

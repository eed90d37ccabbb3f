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
    // idle: at exit their own handlers end those threads, and the leak
    // checker, stopping every thread, now and then crashed on one that was
    // ending. A check here replaces the one at exit.
    __lsan_do_leak_check();
#endif
    return result;
}

#include <gtest/gtest.h>

#ifdef TAMBERLO_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include "LogCapture.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TestApplication app(argc, argv);
    LogCapture::install();
    return RUN_ALL_TESTS();
}

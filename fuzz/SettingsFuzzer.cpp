#include "AdvancedSlicingUI.h"
#include "FuzzSupport.h"
#include "Kerfer.h"
#include "PreferencesUI.h"
#include "Settings.h"
#include "SliceEngine.h"

#include <QApplication>
#include <QDir>

// The input as settings.xml: the engine opens its devices from it, the
// preferences dialog shows and stores it, the slicing dialog slices with it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QString loop;
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tamberlo-fuzz";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv); // before FuzzSupport makes a plain one
        FuzzSupport::init();
        loop = FuzzSupport::writeShortWav(FuzzSupport::scratch() + "/loop.wav", 44100);
    }
    Settings::resetInstanceForTests();
    const QString dir = FuzzSupport::scratch() + "/data/Fennory/Tamberlo";
    QDir().mkpath(dir);
    QDir(dir).remove("settings.xml.corrupt");
    FuzzSupport::writeInput(data, size, "data/Fennory/Tamberlo/settings.xml");

    SliceEngine engine;
    engine.getKerfer()->slotLoadLoop(loop);
    {
        PreferencesUI preferences(nullptr, &engine);
        preferences.slotAccept();
    }
    {
        AdvancedSlicingUI slicing(nullptr, engine.getKerfer());
        slicing.accept();
    }
    return 0;
}

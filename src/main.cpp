#include "SampleRenderer.h"
#include "Tamberlo.h"

int main(int argc, char** argv)
{
    // The pictures are compiled into a static library: registered before
    // anything looks one up by name.
    SampleRenderer::initResources();
    // Scaled to the screen's density, with pictures (the waveform's too) in
    // device pixels: sharp rather than enlarged. Only takes effect before
    // the application object exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // The whole run happens inside the constructor; the destructor deletes the
    // window if no way out has done so.
    Tamberlo app(argc, argv);
    return 0;
}

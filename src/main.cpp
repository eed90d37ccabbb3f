#include "SampleRenderer.h"
#include "Tamberlo.h"

int main(int argc, char** argv)
{
    // The pictures are compiled into a static library: registered before
    // anything looks one up by name.
    SampleRenderer::initResources();
    // The whole run happens inside the constructor; the destructor deletes the
    // window if no way out has done so.
    Tamberlo app(argc, argv);
    return 0;
}

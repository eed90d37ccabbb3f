#include "AboutUI.h"

#include "SampleRenderer.h"

AboutUI::AboutUI(QWidget* parent) : QDialog(parent)
{
    SampleRenderer::initResources();
    m_ui.setupUi(this);
}

#include "SampleRendererLooper.h"

#include <QPainter>

SampleRendererLooper::SampleRendererLooper(QWidget* parent, QSharedPointer<Slice> slice)
    : SampleRenderer(parent, slice)
{
}

void SampleRendererLooper::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawContents(&painter);
    drawPlayCursor(&painter);
}

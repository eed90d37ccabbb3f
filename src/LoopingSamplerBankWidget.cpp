#include "LoopingSamplerBankWidget.h"

#include "LooperPadWidget.h"
#include "LoopingSampler.h"
#include "LoopingSamplerBank.h"
#include "ui_LoopingSamplerBankWidget.h"

#include <QButtonGroup>
#include <QDebug>
#include <QKeyEvent>
#include <QVBoxLayout>

LoopingSamplerBankWidget::LoopingSamplerBankWidget(QWidget* parent, LoopingSamplerBank* bank)
    : QWidget(parent), m_pUi(new Ui_LoopingSamplerBankWidget), m_pBank(bank)
{
    m_pUi->setupUi(this);
    // Up and Down reach the widget once it has been clicked.
    setFocusPolicy(Qt::StrongFocus);

    QVBoxLayout* rows = new QVBoxLayout(m_pUi->LoopingSamplersFrame);
    rows->setContentsMargins(0, 0, 0, 0);
    for (LoopingSampler* looper : m_pBank->getLoopers()) {
        LooperPadWidget* row = new LooperPadWidget(nullptr, looper);
        rows->addWidget(row);
        m_looperPadWidgets.append(row);
    }

    m_pQuantizationGroup = new QButtonGroup(this);
    m_pQuantizationGroup->addButton(m_pUi->radioButtonLooperQuantizeFirst);
    m_pQuantizationGroup->addButton(m_pUi->radioButtonLooperQuantizeOff);
    connect(m_pQuantizationGroup, QOverload<QAbstractButton*>::of(&QButtonGroup::buttonClicked),
            this, &LoopingSamplerBankWidget::slotSetLooperQuantization);
    connect(m_pBank, &LoopingSamplerBank::selectedLooperChanged, this,
            &LoopingSamplerBankWidget::select);

    select(m_pBank->getSelectedLooperIndex());
}

LoopingSamplerBankWidget::~LoopingSamplerBankWidget()
{
    delete m_pUi;
}

void LoopingSamplerBankWidget::slotSetLooperQuantization(QAbstractButton* button)
{
    qDebug() << "slotSetLooperQuantization";
    // The bank connects the first recorder's length to the others only once,
    // however often "To first loop" is chosen: a second connection would
    // deliver every length twice.
    if (button == m_pUi->radioButtonLooperQuantizeFirst)
        m_pBank->setQuantizeToFirstLoop(true);
    else if (button == m_pUi->radioButtonLooperQuantizeOff)
        m_pBank->setQuantizeToFirstLoop(false);
}

void LoopingSamplerBankWidget::select(int looperIndex)
{
    // The bank's selection is the one shown: exactly that row is green.
    if (looperIndex < 0 || looperIndex >= m_looperPadWidgets.size())
        return;
    for (int i = 0; i < m_looperPadWidgets.size(); ++i)
        m_looperPadWidgets.at(i)->setSelected(i == looperIndex);
}

void LoopingSamplerBankWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Down)
        m_pBank->selectNextLooper();
    else if (event->key() == Qt::Key_Up)
        m_pBank->selectPrevLooper();
    else
        QWidget::keyPressEvent(event);
}

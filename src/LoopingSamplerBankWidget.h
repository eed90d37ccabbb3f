#pragma once

#include <QList>
#include <QWidget>

class LooperPadWidget;
class LoopingSamplerBank;
class QAbstractButton;
class QButtonGroup;
class Ui_LoopingSamplerBankWidget;

// The loop recorders of a bank as a column of LooperPadWidget rows, the
// selected one in green, with the choice of quantizing every loop to the
// length of the first. Up and Down select the previous and next recorder.
class LoopingSamplerBankWidget : public QWidget
{
    Q_OBJECT
public:
    LoopingSamplerBankWidget(QWidget* parent, LoopingSamplerBank* bank);
    ~LoopingSamplerBankWidget() override;

    const QList<LooperPadWidget*>& getLooperPadWidgets() const { return m_looperPadWidgets; }

public slots:
    void slotSetLooperQuantization(QAbstractButton* button);
    void select(int looperIndex);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Ui_LoopingSamplerBankWidget* m_pUi = nullptr;
    LoopingSamplerBank* m_pBank = nullptr;
    QList<LooperPadWidget*> m_looperPadWidgets;
    QButtonGroup* m_pQuantizationGroup = nullptr;
};

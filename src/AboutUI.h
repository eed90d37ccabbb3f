#pragma once

#include "ui_about.h"

#include <QDialog>

// The about box: the licence notice and the libraries the program is built on.
class AboutUI : public QDialog
{
    Q_OBJECT
public:
    explicit AboutUI(QWidget* parent);

    const Ui_About& getUi() const { return m_ui; }

private:
    Ui_About m_ui;
};

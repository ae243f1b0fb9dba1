#pragma once
#include <QMainWindow>

class frmConsole : public QMainWindow {
    Q_OBJECT
public:
    explicit frmConsole(QWidget* parent = nullptr);
};

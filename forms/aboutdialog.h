#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class AboutDialog;
}

// The line shown under the logo, fixed when this file is compiled.
QString aboutBuildLine();

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

private slots:
    void on_buttonBox_accepted();

private:
    Ui::AboutDialog *ui;
};

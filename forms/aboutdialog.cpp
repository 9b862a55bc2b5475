#include "aboutdialog.h"

#include "ui_aboutdialog.h"
#include "version.h"

QString aboutBuildLine()
{
    return QStringLiteral("TeskManager, Version: ") + QLatin1String(teskManagerVersion)
        + QLatin1String(" Build:  ") + QLatin1String(__DATE__) + QLatin1Char(' ')
        + QLatin1String(__TIME__);
}

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    setWindowTitle(tr("About"));
    ui->LB_Version->setText(aboutBuildLine());
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

void AboutDialog::on_buttonBox_accepted()
{
    hide();
}

#include "aboutdialog.h"

#include "ui_aboutdialog.h"
#include "version.h"

#include <QIcon>

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
    // The form's pixmap would be enlarged, and blurred, on a screen scaled to twice the density;
    // the icon takes the logo drawn at that size (@2x) there.
    const QSize size = ui->label_13->pixmap(Qt::ReturnByValue).size();
    ui->label_13->setPixmap(QIcon(QStringLiteral(":/velmarintesk_logo.png")).pixmap(size));
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

#include "aboutdialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextDocument>
#include <QtTest>

class AboutDialogTest : public QObject {
    Q_OBJECT

private slots:
    void titleAndBuildLine();
    void logo();
    void linkLine();
    void closeButtonRejects();
    void metaObject();
    void resources_data();
    void resources();
};

void AboutDialogTest::titleAndBuildLine()
{
    AboutDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About"));
    QCOMPARE(dialog.objectName(), QStringLiteral("AboutDialog"));
    QCOMPARE(dialog.findChild<QGroupBox *>("groupBox_9")->title(), QStringLiteral("About"));
    const QString line = dialog.findChild<QLabel *>("LB_Version")->text();
    QVERIFY(!line.contains(QLatin1String("Version: 0.1 2013-08-26 11:11:11")));
    // __DATE__ pads a one-digit day with a space: "Oct  7 2013".
    const QRegularExpression pattern(
        QStringLiteral("^TeskManager, Version: 0\\.2 Build:  ([A-Z][a-z]{2} [ 123]\\d \\d{4}) "
                       "(\\d\\d:\\d\\d:\\d\\d)$"));
    const QRegularExpressionMatch match = pattern.match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    QVERIFY(QLocale::c()
                .toDate(match.captured(1).simplified(), QStringLiteral("MMM d yyyy"))
                .isValid());
    QVERIFY(QTime::fromString(match.captured(2), QStringLiteral("hh:mm:ss")).isValid());
}

void AboutDialogTest::logo()
{
    AboutDialog dialog;
    const auto *label = dialog.findChild<QLabel *>("label_13");
    QVERIFY(label && label->text().isEmpty());
    const QImage logo = label->pixmap(Qt::ReturnByValue).toImage();
    QCOMPARE(logo.size(), QSize(451, 60));
    QCOMPARE(
        logo.convertToFormat(QImage::Format_ARGB32_Premultiplied),
        QImage(":/velmarintesk_logo.png").convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

void AboutDialogTest::linkLine()
{
    AboutDialog dialog;
    const auto *label = dialog.findChild<QLabel *>("LB_Version_2");
    QVERIFY(label);
    QVERIFY(label->openExternalLinks());
    QVERIFY(label->textInteractionFlags() & Qt::LinksAccessibleByMouse);
    QCOMPARE(label->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    QVERIFY(Qt::mightBeRichText(label->text()));

    QStringList targets;
    auto links = QRegularExpression(QStringLiteral("href=\"([^\"]+)\"")).globalMatch(label->text());
    while (links.hasNext())
        targets << links.next().captured(1);
    QCOMPARE(targets, QStringList({ "https://www.example.org", "mailto:support@example.org" }));
    QTextDocument shown;
    shown.setHtml(label->text());
    QCOMPARE(shown.toPlainText(),
             QStringLiteral("Website: https://www.example.org Support: support@example.org"));
}

void AboutDialogTest::closeButtonRejects()
{
    AboutDialog dialog;
    auto *box = dialog.findChild<QDialogButtonBox *>("buttonBox");
    QCOMPARE(box->standardButtons(), QDialogButtonBox::StandardButtons(QDialogButtonBox::Close));
    QCOMPARE(box->orientation(), Qt::Horizontal);
    QCOMPARE(box->buttons().size(), 1);
    QCOMPARE(box->buttonRole(box->buttons().first()), QDialogButtonBox::RejectRole);

    QSignalSpy rejected(&dialog, &QDialog::rejected);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    dialog.open();
    QVERIFY(dialog.isVisible());
    box->button(QDialogButtonBox::Close)->click();
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(accepted.count(), 0);
    QVERIFY(!dialog.isVisible());
}

void AboutDialogTest::metaObject()
{
    const QMetaObject &meta = AboutDialog::staticMetaObject;
    QCOMPARE(meta.className(), "AboutDialog");
    QCOMPARE(meta.superClass(), &QDialog::staticMetaObject);
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 1);
    const QMetaMethod slot = meta.method(meta.methodOffset());
    QCOMPARE(slot.methodSignature(), QByteArray("on_buttonBox_accepted()"));
    QCOMPARE(slot.methodType(), QMetaMethod::Slot);
    QCOMPARE(slot.access(), QMetaMethod::Private);

    AboutDialog dialog;
    dialog.show();
    QVERIFY(QMetaObject::invokeMethod(&dialog, "on_buttonBox_accepted"));
    QVERIFY(!dialog.isVisible());
}

void AboutDialogTest::resources_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("imageSize");
    QTest::newRow("window icon") << ":/Velmarin.ico" << QSize(32, 32);
    QTest::newRow("logo") << ":/velmarintesk_logo.png" << QSize(451, 60);
    QTest::newRow("logo for twice the density") << ":/velmarintesk_logo@2x.png" << QSize(902, 120);
    QTest::newRow("large window icon") << ":/teskmanager-256.png" << QSize(256, 256);
}

void AboutDialogTest::resources()
{
    QFETCH(QString, path);
    QFETCH(QSize, imageSize);
    QCOMPARE(QImage(path).size(), imageSize);
    QVERIFY(QIcon(path).availableSizes().contains(imageSize));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    if (path.endsWith(".ico")) // one 32x32 image, 8 bits with palette, and its mask
        QCOMPARE(file.size(), qint64(2238));
    else // 8 bits per channel, RGBA
        QCOMPARE(file.read(26).mid(24), QByteArray("\x08\x06", 2));
}

QTEST_MAIN(AboutDialogTest)
#include "tst_aboutdialog.moc"

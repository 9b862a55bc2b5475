#include "windowfixture.h"

#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QMap>
#include <QtTest>

namespace {

struct Control {
    QString description; // role, object name and accessible name, for the failure message
    QString name;
    bool field;
};

// The focusable controls that a screen reader meets, with the name each one really has: a name
// borrowed from the enclosing group box (Qt's fallback) or a combo box's current item (Qt's
// choice on Linux) is no name of its own, so it counts as none.
QList<Control> focusableControls(QAccessibleInterface *node)
{
    QList<Control> controls;
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface *child = node->child(i);
        if (!child || child->state().invisible)
            continue;
        if (child->state().focusable) {
            QString name = child->text(QAccessible::Name);
            const QWidget *widget = qobject_cast<const QWidget *>(child->object());
            for (const QWidget *w = widget ? widget->parentWidget() : nullptr; w;
                 w = w->parentWidget())
                if (const auto *box = qobject_cast<const QGroupBox *>(w)) {
                    if (name == box->accessibleName() || name == box->title())
                        name.clear();
                    break;
                }
            if (const auto *combo = qobject_cast<const QComboBox *>(widget))
                if (name == combo->currentText())
                    name.clear();
            const QAccessible::Role role = child->role();
            controls << Control {
                QStringLiteral("%1 %2 \"%3\"")
                    .arg(QMetaEnum::fromType<QAccessible::Role>().valueToKey(role))
                    .arg(child->object() ? child->object()->objectName() : QString(),
                         child->text(QAccessible::Name)),
                name,
                role == QAccessible::EditableText || role == QAccessible::ComboBox
                    || role == QAccessible::SpinBox
            };
        }
        controls << focusableControls(child);
    }
    return controls;
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT

private slots:
    void everyControlNamedOnce_data();
    void everyControlNamedOnce();
};

void AccessibilityTest::everyControlNamedOnce_data()
{
    QTest::addColumn<bool>("duplicates"); // false: unnamed controls
    QTest::newRow("focusable control without a name of its own") << false;
    QTest::newRow("field name shared with another field") << true;
}

void AccessibilityTest::everyControlNamedOnce()
{
    QFETCH(bool, duplicates);
    WindowFixture fixture;
    QVERIFY(fixture.show());
    QAccessibleInterface *root = QAccessible::queryAccessibleInterface(&fixture.window());
    QVERIFY(root);

    const QList<Control> controls = focusableControls(root);
    QVERIFY2(controls.size() > 50, qPrintable(QString::number(controls.size())));
    QStringList findings;
    QMap<QString, QStringList> fields;
    for (const Control &control : controls) {
        if (control.name.isEmpty())
            findings << control.description;
        else if (control.field)
            fields[control.name] << control.description;
    }
    if (duplicates) {
        findings.clear();
        for (const QStringList &sharing : qAsConst(fields))
            if (sharing.size() > 1)
                findings << sharing.join(QLatin1String(" and "));
    }
    QVERIFY2(findings.isEmpty(), qPrintable(findings.join(QLatin1String("; "))));
}

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"

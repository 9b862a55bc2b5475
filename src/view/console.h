#pragma once

#include <QByteArray>
#include <QTextEdit>

// The serial traffic view doubles as a raw terminal: key presses go to the serial line as bytes
// instead of editing the text, which only changes when the device answers.
class Console : public QTextEdit {
    Q_OBJECT

public:
    explicit Console(QWidget *parent = nullptr);

signals:
    void getData(const QByteArray &data);
    void getKey(int key);

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
};

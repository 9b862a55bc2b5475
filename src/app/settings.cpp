#include "mainwindow.h"

#include "ui_mainwindow.h"

#include <QCloseEvent>

void MainWindow::initSettings() { }

void MainWindow::loadSettings() { }

void MainWindow::saveSettings() { }

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
}

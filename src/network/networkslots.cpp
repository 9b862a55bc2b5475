#include "mainwindow.h"

#include "networkpanel.h"

// The main window's per-channel network slots: each hands its work to its channel.

void MainWindow::connectNetwork1(bool b)
{
    networkPanels[0]->connectLink(b);
}
void MainWindow::connectNetwork2(bool b)
{
    networkPanels[1]->connectLink(b);
}
void MainWindow::connectNetwork3(bool b)
{
    networkPanels[2]->connectLink(b);
}

void MainWindow::displayError(QAbstractSocket::SocketError socketError)
{
    // One slot serves the three channels; the one that reports decides the panel.
    for (NetworkPanel *panel : networkPanels) {
        if (&panel->core() == sender()) {
            panel->reportError(socketError);
            return;
        }
    }
}

void MainWindow::sendNetwork1()
{
    networkPanels[0]->sendFromForm();
}
void MainWindow::sendNetwork2()
{
    networkPanels[1]->sendFromForm();
}
void MainWindow::sendNetwork3()
{
    networkPanels[2]->sendFromForm();
}
void MainWindow::readNetwork1()
{
    networkPanels[0]->showArrivals();
}
void MainWindow::readNetwork2()
{
    networkPanels[1]->showArrivals();
}
void MainWindow::readNetwork3()
{
    networkPanels[2]->showArrivals();
}
void MainWindow::clearNetwork1()
{
    networkPanels[0]->clearFromForm();
}
void MainWindow::clearNetwork2()
{
    networkPanels[1]->clearFromForm();
}
void MainWindow::clearNetwork3()
{
    networkPanels[2]->clearFromForm();
}
void MainWindow::setNetwork1AsciiHexMode(int id)
{
    networkPanels[0]->setMode(id);
}
void MainWindow::setNetwork2AsciiHexMode(int id)
{
    networkPanels[1]->setMode(id);
}
void MainWindow::setNetwork3AsciiHexMode(int id)
{
    networkPanels[2]->setMode(id);
}
void MainWindow::network1TimerStartClicked(bool b)
{
    networkPanels[0]->setPeriodicSend(b);
}
void MainWindow::network2TimerStartClicked(bool b)
{
    networkPanels[1]->setPeriodicSend(b);
}
void MainWindow::network3TimerStartClicked(bool b)
{
    networkPanels[2]->setPeriodicSend(b);
}

#pragma once

#include <QStringList>

class QWidget;

// Before the QApplication is made: the window is scaled by the screen's dpi and
// QT_SCALE_FACTOR, with pixmaps drawn at the screen's resolution.
void setUpHighDpi();

// The names and the window icon every run of the window shares: the program and the benchmark
// call it right after their QApplication is made.
void setUpApplication();

// Maximized, unless the command line (`arguments`, as given, before Qt took its own options)
// places the window with -geometry.
void showMainWindow(QWidget *window, const QStringList &arguments);

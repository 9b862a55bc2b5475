#pragma once

namespace Ui {
class MainWindow;
}

// Gives every control of the window a name that says which channel it belongs to and what it
// is, for screen readers and anything else that reads the window through the accessibility
// bus: the configuration labels are tied to their fields, and the controls that have no label
// of their own (counters, views, command lines, periods, colour buttons) are named outright.
void nameAccessibleControls(Ui::MainWindow *ui);

#pragma once

#include <QColor>

class QPalette;

// How far apart two colours read, as the web's accessibility guidelines reckon it: from 1 (the
// same) to 21 (black on white).
double contrastRatio(const QColor &a, const QColor &b);

// The colour traffic is drawn in: the one the user picked (a valid `picked`) as it is, else the
// default for its direction under `palette`, so that it reads on any background: the palette's
// text colour for received text, red for sent text, lighter on a dark base and darker on a base
// where red would not stand out.
QColor colourInUse(const QColor &picked, bool received, const QPalette &palette);

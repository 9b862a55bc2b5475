#include "colours.h"

#include <QPalette>

#include <algorithm>
#include <cmath>

namespace {

double luminance(const QColor &colour)
{
    auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF())
        + 0.0722 * linear(colour.blueF());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor colourInUse(const QColor &picked, bool received, const QPalette &palette)
{
    if (picked.isValid())
        return picked;
    const QColor text = palette.color(QPalette::Text);
    if (received)
        return text;
    // Pure red passes 3:1 on most dark bases and still glares there; on a dark base it is made
    // lighter until it reads as easily as body text, elsewhere only as dark as 3:1 needs.
    const QColor base = palette.color(QPalette::Base);
    const bool dark = luminance(base) < luminance(text);
    const double wanted = dark ? 4.5 : 3.0;
    QColor red(Qt::red);
    for (int step = 1; step <= 25 && contrastRatio(red, base) < wanted; ++step)
        red = QColor::fromHslF(0.0, 1.0, dark ? 0.5 + step * 0.02 : 0.5 - step * 0.02);
    return red;
}

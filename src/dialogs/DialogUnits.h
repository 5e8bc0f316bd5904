#pragma once

#include <QFont>
#include <QRect>

namespace updatetool {

// Dialog templates give positions in dialog units: a quarter of the font's average
// character width across, an eighth of its height down. This turns them into pixels
// for a window's font, so a template keeps its proportions whatever font it gets.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const { return units * baseWidth_ / 4; }
    int y(int units) const { return units * baseHeight_ / 8; }
    QRect rect(int left, int top, int width, int height) const { return {x(left), y(top), x(width), y(height)}; }

private:
    int baseWidth_;
    int baseHeight_;
};

} // namespace updatetool

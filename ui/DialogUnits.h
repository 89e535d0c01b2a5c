#pragma once
// Dialog units to pixels, as the platform that defined the templates does:
// x pixels = x * average character width / 4, y pixels = y * height / 8, from
// the dialog font's metrics.

#include "Resources.h"

#include <QFont>
#include <QRect>

class QWidget;

class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);
    int X(int units) const { return (units * m_AverageWidth + 2) / 4; }
    int Y(int units) const { return (units * m_Height + 4) / 8; }
    // Pixel sizes laid out for the templates' own font, whose average
    // character is 6 pixels wide, scaled to this font so texts fit as they did.
    int Pixels(int pixels) const { return (pixels * m_AverageWidth + 3) / 6; }
    QRect Rect(const res::Control& control) const {
        return QRect(X(control.x), Y(control.y), X(control.width), Y(control.height));
    }

private:
    int m_AverageWidth;
    int m_Height;
};

// The dialog font: "MS Shell Dlg" 8 point where it exists, else the
// desktop's sans-serif face at the same size.
QFont DialogFont();

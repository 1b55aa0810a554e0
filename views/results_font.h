// The font of the results list and of the version viewer: Tahoma, 16 pixels
// of cell height, regular, with look-alike families where Tahoma is missing.
//
//   list->setFont(ResultsFont());
//
// Threading: user interface thread only.
#pragma once

#include <QFont>

inline QFont ResultsFont() {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Sans Serif")});
    // A cell height of 16 pixels is a character height of about 13.
    font.setPixelSize(13);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

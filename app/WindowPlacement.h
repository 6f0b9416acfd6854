#pragma once
// Placing top-level windows on the screen they open on.

class QWidget;

// Moves the window so that its frame is centred on its screen, as far as the
// screen's available area allows: one that doesn't fit is put at the area's
// top-left corner.
void CentreOnScreen(QWidget* window);
// Whether the window's frame lies within its screen's available area.
bool WithinScreen(const QWidget* window);
// Twips per pixel across and down, from the screen's logical resolution.
double TwipsPerPixelX(const QWidget* widget);

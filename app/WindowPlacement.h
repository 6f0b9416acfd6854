#pragma once
// Placing top-level windows on the screen they open on.

class QWidget;

// Moves the window so that its frame is centred on its screen.
void CentreOnScreen(QWidget* window);
// Twips per pixel across and down, from the screen's logical resolution.
double TwipsPerPixelX(const QWidget* widget);

// Security-print decoration of the blanks: guilloche border, rosettes, background mesh, dividers.
#pragma once

#include "art.h"

// Fine wave mesh over the page inside its border, the tint of a protected blank.
void securityMesh(Art& art, Page page);
// Guilloche band between geo::frameOuter and geo::frameInner with its edge rules and corner medallions.
void guillocheBorder(Art& art, Page page);
// Concentric guilloche rosette.
void rosette(Art& art, Page page, const QPointF& centre, double outer, double inner, int lobes, const QColor& colour);
// Short rule with a diamond in the middle, centred on the page.
void divider(Art& art, Page page, double v, double halfLength);
// The whole dressing of a page: mesh and border.
void dressPage(Art& art, Page page);

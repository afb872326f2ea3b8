#pragma once

// Registers the resources built into the program (icons, scripts, shipped templates). The
// resources live in a static library, so every executable calls this once before using them.
void initAppResources();

// Housekeeping page: one word per frame into the display of slot
// counter mod 40, in engineering units.
#pragma once

// word: only its low 16 bits count, unsigned. counter: fcount, taken unsigned.
void hkpg(int panel, int word, int counter);

// The value shown for a scaled slot (0 to 35); slots 36 to 39 are not scaled.
double hk_scaled(int slot, int word);

// The display of scaled slot `slot` (0 to 35); 0 for any other slot.
int hk_control(int slot);

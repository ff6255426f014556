// Housekeeping page: one word per frame into the display of slot
// counter mod 40, in engineering units.
#pragma once

// The housekeeping word of each frame belongs to slot fcount mod HK_SLOTS:
// slots below HK_SCALED_SLOTS are scaled to engineering units, slot
// HK_BYTES_SLOT shows its two bytes, the rest the raw word.
constexpr int HK_SLOTS = 40;
constexpr int HK_SCALED_SLOTS = 36;
constexpr int HK_BYTES_SLOT = 36;

// word: only its low 16 bits count, unsigned. counter: fcount, taken unsigned.
void hkpg(int panel, int word, int counter);

// The value shown for a scaled slot (0 to 35); slots 36 to 39 are not scaled.
double hk_scaled(int slot, int word);

// The display of scaled slot `slot` (0 to 35); 0 for any other slot.
int hk_control(int slot);

// The unit of scaled slot `slot`'s value: "V", "A" or "degC" ("" for
// slots 36 to 39, which are not scaled).
const char* hk_unit(int slot);

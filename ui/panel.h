// Panel resource 1 of "gse.uir" and the identifiers of its controls. The
// panel file carries the same numbers (property ctrlId) under the same names.
#pragma once

constexpr int PANEL = 1;

// Display-only fields.
constexpr int PANEL_W190_K0 = 2;
constexpr int PANEL_W190_K1 = 3;
constexpr int PANEL_HKLO = 4;
constexpr int PANEL_HKHI = 5;
constexpr int PANEL_HKRAW = 6;
constexpr int PANEL_W2_HI = 7;
constexpr int PANEL_W2_MID = 8;
constexpr int PANEL_W10 = 9;
constexpr int PANEL_W190_K3 = 10;
constexpr int PANEL_W190_K2 = 11;

// The operator's controls (12 to 21, and 76).
constexpr int PANEL_QUIT = 12;
constexpr int PANEL_XMIN = 13;
constexpr int PANEL_XMAX = 14;
constexpr int PANEL_YMIN = 15;
constexpr int PANEL_YMAX = 16;
constexpr int PANEL_COUNT = 17;
constexpr int PANEL_CLEAR = 18;
constexpr int PANEL_ACCUM = 19;
constexpr int PANEL_XLOG = 20;
constexpr int PANEL_YLOG = 21;

// Plot areas.
constexpr int PANEL_SPEC48 = 22;
constexpr int PANEL_SPEC256 = 23;

// Display fields.
constexpr int PANEL_L6_K3 = 24;
constexpr int PANEL_L6_K2 = 25;
constexpr int PANEL_HK02 = 26;
constexpr int PANEL_HK09 = 27;
constexpr int PANEL_HK15 = 28;
constexpr int PANEL_HK14 = 29;
constexpr int PANEL_HK13 = 30;
constexpr int PANEL_HK12 = 31;
constexpr int PANEL_HK11 = 32;
constexpr int PANEL_HK10 = 33;
constexpr int PANEL_HK08 = 34;
constexpr int PANEL_HK31 = 35;
constexpr int PANEL_HK30 = 36;
constexpr int PANEL_HK29 = 37;
constexpr int PANEL_HK28 = 38;
constexpr int PANEL_HK27 = 39;
constexpr int PANEL_HK26 = 40;
constexpr int PANEL_HK25 = 41;
constexpr int PANEL_HK24 = 42;
constexpr int PANEL_HK23 = 43;
constexpr int PANEL_HK22 = 44;
constexpr int PANEL_HK21 = 45;
constexpr int PANEL_HK20 = 46;
constexpr int PANEL_HK19 = 47;
constexpr int PANEL_HK18 = 48;
constexpr int PANEL_HK17 = 49;
constexpr int PANEL_HK16 = 50;
constexpr int PANEL_HK35 = 51;
constexpr int PANEL_HK34 = 52;
constexpr int PANEL_HK33 = 53;
constexpr int PANEL_HK32 = 54;
constexpr int PANEL_HK07 = 55;
constexpr int PANEL_HK06 = 56;
constexpr int PANEL_HK05 = 57;
constexpr int PANEL_HK04 = 58;
constexpr int PANEL_HK03 = 59;
constexpr int PANEL_HK01 = 60;
constexpr int PANEL_HK00 = 61;
constexpr int PANEL_L6_K0 = 62;
constexpr int PANEL_TIME = 63;
constexpr int PANEL_F24_A = 64;
constexpr int PANEL_F24_B = 65;
constexpr int PANEL_W196 = 66;
constexpr int PANEL_W194 = 67;
constexpr int PANEL_W192 = 68;
constexpr int PANEL_F12 = 69;
constexpr int PANEL_F16 = 70;
constexpr int PANEL_F20 = 71;
constexpr int PANEL_HEXDUMP = 72;
constexpr int PANEL_SKIPPED = 73;
constexpr int PANEL_STATUS = 74;
constexpr int PANEL_STRIP = 75;
constexpr int PANEL_CMD = 76;

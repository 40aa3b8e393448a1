// The game's file tables: the maps on the CD and the files restored before the upgrade.
#include "launcher/brackwold.h"

// The map that version 1.1 changed; the upgrade needs its version 1.0 back.
#define RESTORED_MAP "Thornwick"

const char* const RestoreFiles[4] = {
    "\\maps\\" RESTORED_MAP ".bkm",
    "\\system\\Brackwold.U",
    "\\system\\Brackwoldai.U",
    "\\system\\Engine.U",
};

const char* const MapFiles[14] = {
    "\\Maps\\Arrival.bkm",   "\\Maps\\Ashfen.bkm",     "\\Maps\\" RESTORED_MAP ".bkm",
    "\\Maps\\Gallowmere.bkm", "\\Maps\\Duskhollow.bkm", "\\Maps\\Brinegate.bkm",
    "\\Maps\\Mirefall.bkm",  "\\Maps\\Saltmarch.bkm",  "\\Maps\\Ravensedge.bkm",
    "\\Maps\\Cinderholt.bkm", "\\Maps\\Kestrel.bkm",   "\\Maps\\Wyrmdeep.bkm",
    "\\Maps\\Brackwold.bkm", nullptr,
};

const char* const kServiceHost = "zintra.example.com";

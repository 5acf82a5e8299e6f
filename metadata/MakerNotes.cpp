// Maker-note decoder (work in progress).
#include "MakerNotes.h"

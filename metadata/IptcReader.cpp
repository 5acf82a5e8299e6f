// IPTC reader (work in progress).
#include "IptcReader.h"

// The main window's port table: row i for port number i+1.
#include "ports/comm_sport.h"

COMM_SPORT g_portTable[kPortTableRows];

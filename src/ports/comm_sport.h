// One serial port record: a port found in the device map, or a row of the
// main window's port table (row i for port number i+1: COM(i+1) and ZEV(i)).
#pragma once

class CCommDialog;

struct COMM_SPORT {
  int bInUse = 0;             // discovery: 1; table row: a panel exists for the row
  int bLog = 0;               // table row: traffic logging requested for the port
  int bUsb = 0;               // the port belongs to the scanners' USB driver
  char szDeviceName[260] = {};  // discovery: device map value name (contains "\Device\ZevSu")
  char szPortName[8] = {};      // discovery: port name such as COM7
  CCommDialog* pPanel = nullptr;  // table row: the row's port panel
};

constexpr int kPortTableRows = 20;
// Rows are written by the window thread; port panels read their own row's
// bUsb and bLog when they open.
extern COMM_SPORT g_portTable[kPortTableRows];

// CPortList: the ports of the scanners' USB driver, found in the system's
// serial device map (platform/device_map.h). The application object holds the
// one list; the main window asks it at start-up which COMn are USB ports (they
// get no RS-232 panel) and, after the operator pressed the USB button, rescans
// it once a second and adds a panel for every port in m_new.
//
// Three lists of heap records, each owning its own copies:
//   m_known    ports already handed to the main window; grows only;
//   m_current  driver ports present and free (openable) at the last Refresh;
//   m_new      ports of m_current whose name is not in m_known.
// All calls come from the window thread; m_lock is held by Refresh and
// IsUsbPort. Failures are shown as plain error boxes.
#pragma once

#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "ports/comm_sport.h"

class CPortList {
 public:
  using RecordList = std::list<std::unique_ptr<COMM_SPORT>>;

  // Three empty lists, then one Refresh.
  CPortList();
  virtual ~CPortList();
  CPortList(const CPortList&) = delete;
  CPortList& operator=(const CPortList&) = delete;

  // Rebuilds m_current and m_new from the device map: every value whose name
  // contains "\Device\ZevSu", whose data (the port name) can be read and whose
  // port opens as "\\.\<name>" right now.
  void Refresh();
  // TRUE when m_current holds the port name (case ignored); FALSE for null.
  bool IsUsbPort(const char* portName);
  // Appends a copy of the record to m_new unless m_known holds its port name.
  void AddIfNew(const COMM_SPORT& record);
  // Appends a copy of the record to m_known.
  void MarkKnown(const COMM_SPORT& record);

  RecordList m_known;
  RecordList m_current;
  RecordList m_new;
  std::mutex m_lock;  // guards m_current and m_new while Refresh rebuilds them and IsUsbPort reads

 protected:
  // A fresh zeroed record, or null when no memory is left. Tests override it
  // to make an allocation fail.
  virtual std::unique_ptr<COMM_SPORT> NewRecord();

 private:
  // The body of Refresh, under m_lock; collects the boxes to show once the
  // lock is released.
  void Scan(std::list<std::string>& errors);
  // AddIfNew without its box; false when no memory was left for the copy.
  bool AddIfNewLocked(const COMM_SPORT& record);
  // Appends a copy; false (nothing stored) when no memory is left.
  bool AppendCopy(RecordList& list, const COMM_SPORT& record);
};

// Port names are compared without regard to case.
bool SamePortName(const char* a, const char* b);

// vantorel-cli's commands for the plant's results database: --init-db
// creates the tables, --sync sends what the station has not had confirmed,
// --report summarises the runs (from the database when one is configured,
// else from results.csv) as text or as one HTML page with inline charts.
#pragma once

#include <string>
#include <vector>

#include "app/results_db.h"
#include "cli_app.h"

namespace vtcli {

int RunInitDb(const Environment& env);
int RunSync(const Environment& env);
int RunReport(const Arguments& args, const Environment& env);

// The report's tables, made from the runs (any order).
struct ResultsReport {
  struct Day {
    std::string day, family;
    int runs = 0, programmed = 0, failed = 0;
  };
  struct Failure {
    int64_t code = 0;
    std::string outcome;
    int count = 0;
  };
  std::vector<Day> days;              // by day, then family
  std::vector<Failure> failures;      // most frequent first
  std::vector<StoredRun> lastBySerial;  // the last run of each serial block, by block
};
ResultsReport MakeReport(const std::vector<StoredRun>& runs, const std::string& since,
                         const std::string& station);
std::string ReportText(const ResultsReport& report, const std::string& source);
std::string ReportHtml(const ResultsReport& report, const std::string& source);

}  // namespace vtcli

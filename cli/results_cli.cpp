#include "results_cli.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/programmer_dlg.h"
#include "app/result_log.h"

namespace vtcli {

namespace {

// The station's settings as the window would load them: the result folder
// and the [Results] section.
struct StationResults {
  std::string folder;
  ResultsDbSettings settings;
};

StationResults LoadStationResults(const Environment& env) {
  CProgrammerDlg dlg;
  LoadStationSettings(dlg, env.currentDir);
  return {dlg.GetLogFolder(), LoadResultsDbSettings(dlg.GetIniPath())};
}

std::string Plural(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

bool LoadRunsFromDb(CResultsStore& store, const std::string& since, const std::string& station,
                    std::vector<StoredRun>& runs, DbError& error) {
  if (!store.Connect(error)) return false;
  std::string sql =
      "SELECT run_id, station, port, family, serial_block, start_local, result_code, outcome "
      "FROM runs WHERE start_local >= ?";
  std::vector<DbValue> params = {since};
  if (!station.empty()) {
    sql += " AND station = ?";
    params.push_back(station);
  }
  std::vector<DbRow> rows;
  if (!store.Session()->Execute(sql, params, error, &rows)) return false;
  for (const DbRow& r : rows) {
    auto text = [&](size_t i) { return r[i] ? *r[i] : std::string(); };
    StoredRun run;
    run.runId = text(0);
    run.station = text(1);
    run.port = text(2);
    run.family = text(3);
    run.serialBlock = text(4);
    run.startLocal = text(5);
    run.result = std::strtoll(text(6).c_str(), nullptr, 10);
    run.outcome = text(7);
    runs.push_back(std::move(run));
  }
  return true;
}

std::vector<StoredRun> LoadRunsFromCsv(const std::string& path, const std::string& station) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<StoredRun> runs;
  for (const CsvRecord& r : SplitResultRecords(text.str())) {
    StoredRun run;
    if (ParseResultLine(r.line, station, run)) runs.push_back(std::move(run));
  }
  return runs;
}

// ---- charts: inline SVG, no script ----

const char* const kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b"};

std::string YieldChart(const ResultsReport& report) {
  std::vector<std::string> days, families;
  for (const auto& d : report.days) {
    if (std::find(days.begin(), days.end(), d.day) == days.end()) days.push_back(d.day);
    if (std::find(families.begin(), families.end(), d.family) == families.end()) {
      families.push_back(d.family);
    }
  }
  const int left = 50, top = 20, height = 200, group = std::max(40, 24 * static_cast<int>(families.size()) + 16);
  const int width = left + group * std::max<int>(1, static_cast<int>(days.size())) + 130;
  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\""
      << top + height + 50 << "\" font-family=\"sans-serif\" font-size=\"11\">\n";
  for (int pct = 0; pct <= 100; pct += 25) {
    const int y = top + height - height * pct / 100;
    svg << "<line x1=\"" << left << "\" y1=\"" << y << "\" x2=\"" << width - 130 << "\" y2=\"" << y
        << "\" stroke=\"#ddd\"/><text x=\"" << left - 6 << "\" y=\"" << y + 4
        << "\" text-anchor=\"end\">" << pct << "%</text>\n";
  }
  for (size_t di = 0; di < days.size(); ++di) {
    const int gx = left + group * static_cast<int>(di) + 8;
    for (size_t fi = 0; fi < families.size(); ++fi) {
      for (const auto& d : report.days) {
        if (d.day != days[di] || d.family != families[fi] || d.runs == 0) continue;
        const int barHeight = height * d.programmed / d.runs;
        svg << "<rect x=\"" << gx + 24 * static_cast<int>(fi) << "\" y=\""
            << top + height - barHeight << "\" width=\"20\" height=\"" << barHeight
            << "\" fill=\"" << kColours[fi % std::size(kColours)] << "\"><title>"
            << HtmlEscape(d.family + " " + d.day + ": " + std::to_string(d.programmed) + " of " +
                          std::to_string(d.runs))
            << "</title></rect>\n";
      }
    }
    svg << "<text x=\"" << gx << "\" y=\"" << top + height + 16 << "\">" << HtmlEscape(days[di])
        << "</text>\n";
  }
  for (size_t fi = 0; fi < families.size(); ++fi) {
    const int y = top + 10 + 18 * static_cast<int>(fi);
    svg << "<rect x=\"" << width - 115 << "\" y=\"" << y - 9 << "\" width=\"12\" height=\"12\" fill=\""
        << kColours[fi % std::size(kColours)] << "\"/><text x=\"" << width - 98 << "\" y=\"" << y + 1
        << "\">" << HtmlEscape(families[fi].empty() ? "(none)" : families[fi]) << "</text>\n";
  }
  svg << "</svg>\n";
  return svg.str();
}

std::string FailureChart(const ResultsReport& report) {
  std::map<int64_t, int> byCode;
  for (const auto& f : report.failures) byCode[f.code] += f.count;
  std::vector<std::pair<int64_t, int>> codes(byCode.begin(), byCode.end());
  std::stable_sort(codes.begin(), codes.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  const int most = codes.empty() ? 1 : codes.front().second;
  const int left = 80, barWidth = 360, row = 24;
  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << left + barWidth + 60
      << "\" height=\"" << row * std::max<size_t>(1, codes.size()) + 10
      << "\" font-family=\"sans-serif\" font-size=\"11\">\n";
  for (size_t i = 0; i < codes.size(); ++i) {
    const int y = 5 + row * static_cast<int>(i);
    const int w = barWidth * codes[i].second / most;
    svg << "<text x=\"" << left - 6 << "\" y=\"" << y + 15 << "\" text-anchor=\"end\">code "
        << codes[i].first << "</text><rect x=\"" << left << "\" y=\"" << y << "\" width=\"" << w
        << "\" height=\"18\" fill=\"#d62728\"/><text x=\"" << left + w + 6 << "\" y=\"" << y + 15
        << "\">" << codes[i].second << "</text>\n";
  }
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace

ResultsReport MakeReport(const std::vector<StoredRun>& all, const std::string& since,
                         const std::string& station) {
  ResultsReport report;
  std::map<std::pair<std::string, std::string>, ResultsReport::Day> days;
  std::map<std::pair<int64_t, std::string>, int> failures;
  std::map<std::string, StoredRun> lastBySerial;
  for (const StoredRun& run : all) {
    if (!since.empty() && run.startLocal < since) continue;
    if (!station.empty() && run.station != station) continue;
    const std::string day = run.startLocal.substr(0, 10);
    ResultsReport::Day& d = days[{day, run.family}];
    d.day = day;
    d.family = run.family;
    ++d.runs;
    if (run.result == 0) {
      ++d.programmed;
    } else {
      ++d.failed;
      ++failures[{run.result, run.outcome}];
    }
    if (!run.serialBlock.empty()) {
      auto it = lastBySerial.find(run.serialBlock);
      // The UTC start orders runs of stations in other time zones; the local
      // one has to do for lines that predate it.
      const auto key = [](const StoredRun& r) { return r.startUtc.empty() ? r.startLocal : r.startUtc; };
      if (it == lastBySerial.end() || key(it->second) <= key(run)) lastBySerial[run.serialBlock] = run;
    }
  }
  for (auto& [key, d] : days) report.days.push_back(d);
  for (auto& [key, count] : failures) report.failures.push_back({key.first, key.second, count});
  std::stable_sort(report.failures.begin(), report.failures.end(),
                   [](const auto& a, const auto& b) { return a.count > b.count; });
  for (auto& [block, run] : lastBySerial) report.lastBySerial.push_back(run);
  return report;
}

std::string ReportText(const ResultsReport& report, const std::string& source) {
  std::ostringstream out;
  out << "Report from " << source << "\n\nRuns per day and family\n";
  char line[512];
  std::snprintf(line, sizeof line, "%-10s  %-6s  %6s  %10s  %6s\n", "day", "family", "runs",
                "programmed", "failed");
  out << line;
  for (const auto& d : report.days) {
    std::snprintf(line, sizeof line, "%-10s  %-6s  %6d  %10d  %6d\n", d.day.c_str(),
                  d.family.c_str(), d.runs, d.programmed, d.failed);
    out << line;
  }
  out << "\nFailures by result code and outcome\n";
  for (const auto& f : report.failures) {
    std::snprintf(line, sizeof line, "%6d  code %-4lld  ", f.count, static_cast<long long>(f.code));
    out << line << OneLine(f.outcome) << "\n";
  }
  out << "\nLast run of each serial block\n";
  for (const StoredRun& r : report.lastBySerial) {
    out << r.serialBlock << "  " << r.startLocal << "  " << r.station << "  " << r.port << "  "
        << r.result << "  " << OneLine(r.outcome) << "\n";
  }
  return out.str();
}

std::string ReportHtml(const ResultsReport& report, const std::string& source) {
  std::ostringstream out;
  out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Vantorel results</title>\n"
         "<style>body{font-family:sans-serif;margin:20px}table{border-collapse:collapse;"
         "margin-bottom:16px}td,th{border:1px solid #bbb;padding:3px 8px;font-size:13px}"
         "th{background:#eee}td.n{text-align:right}.charts{display:flex;flex-wrap:wrap;gap:40px}</style>"
         "</head><body>\n<h1>Vantorel results</h1>\n<p>From "
      << HtmlEscape(source) << "</p>\n<div class=\"charts\"><div><h2>Yield per day and family</h2>\n"
      << YieldChart(report) << "</div><div><h2>Failures by result code</h2>\n"
      << FailureChart(report) << "</div></div>\n<h2>Runs per day and family</h2>\n<table><tr>"
      << "<th>day</th><th>family</th><th>runs</th><th>programmed</th><th>failed</th></tr>\n";
  for (const auto& d : report.days) {
    out << "<tr><td>" << HtmlEscape(d.day) << "</td><td>" << HtmlEscape(d.family)
        << "</td><td class=\"n\">" << d.runs << "</td><td class=\"n\">" << d.programmed
        << "</td><td class=\"n\">" << d.failed << "</td></tr>\n";
  }
  out << "</table>\n<h2>Failures by result code and outcome</h2>\n<table><tr><th>runs</th>"
         "<th>code</th><th>outcome</th></tr>\n";
  for (const auto& f : report.failures) {
    out << "<tr><td class=\"n\">" << f.count << "</td><td class=\"n\">" << f.code << "</td><td>"
        << HtmlEscape(f.outcome) << "</td></tr>\n";
  }
  out << "</table>\n<h2>Last run of each serial block</h2>\n<table><tr><th>serial block</th>"
         "<th>start</th><th>station</th><th>port</th><th>code</th><th>outcome</th></tr>\n";
  for (const StoredRun& r : report.lastBySerial) {
    out << "<tr><td><code>" << HtmlEscape(r.serialBlock.substr(0, 32))
        << (r.serialBlock.size() > 32 ? "&hellip;" : "") << "</code></td><td>"
        << HtmlEscape(r.startLocal) << "</td><td>" << HtmlEscape(r.station) << "</td><td>"
        << HtmlEscape(r.port) << "</td><td class=\"n\">" << r.result << "</td><td>"
        << HtmlEscape(r.outcome) << "</td></tr>\n";
  }
  out << "</table>\n</body></html>\n";
  return out.str();
}

int RunInitDb(const Environment& env) {
  const StationResults station = LoadStationResults(env);
  if (station.settings.connection.empty()) {
    std::fprintf(env.err, "vantorel-cli: no results database: ZANDRIC.INI has no [Results] Connection=\n");
    return kExitFailed;
  }
  CResultsStore store(station.folder, station.settings);
  DbError error;
  std::vector<std::string> created;
  if (!store.Connect(error, &created)) {
    std::fprintf(env.err, "vantorel-cli: results database: %s\n",
                 OneLine(MaskPassword(error.text)).c_str());
    return kExitFailed;
  }
  for (const char* table : {kRunsTable, kComponentsTable}) {
    const bool made = std::find(created.begin(), created.end(), table) != created.end();
    std::fprintf(env.out, "table %s: %s\n", table, made ? "created" : "exists already");
  }
  std::fflush(env.out);
  return kExitOk;
}

int RunSync(const Environment& env) {
  const StationResults station = LoadStationResults(env);
  if (station.settings.connection.empty()) {
    std::fprintf(env.err, "vantorel-cli: no results database: ZANDRIC.INI has no [Results] Connection=\n");
    return kExitFailed;
  }
  CResultsStore store(station.folder, station.settings);
  const CResultsStore::SyncResult result = store.SendPending();
  std::fprintf(env.out, "sync: %s sent, %s pending\n", Plural(result.sent, "run", "runs").c_str(),
               Plural(result.remaining, "run", "runs").c_str());
  if (!result.ok) {
    std::fprintf(env.err, "vantorel-cli: results database: %s\n",
                 OneLine(MaskPassword(result.error.text)).c_str());
  }
  std::fflush(env.out);
  return result.ok ? kExitOk : kExitFailed;
}

int RunReport(const Arguments& args, const Environment& env) {
  const StationResults station = LoadStationResults(env);
  std::vector<StoredRun> runs;
  std::string source;
  if (!station.settings.connection.empty()) {
    CResultsStore store(station.folder, station.settings);
    DbError error;
    if (!LoadRunsFromDb(store, args.since, args.station, runs, error)) {
      std::fprintf(env.err, "vantorel-cli: results database: %s\n",
                   OneLine(MaskPassword(error.text)).c_str());
      return kExitFailed;
    }
    source = "the results database";
  } else {
    const std::string path = (std::filesystem::path(station.folder) / kResultFileName).string();
    runs = LoadRunsFromCsv(path, station.settings.station);
    source = path;
  }
  const ResultsReport report = MakeReport(runs, args.since, args.station);
  if (!args.html.empty()) {
    std::ofstream page(args.html, std::ios::binary | std::ios::trunc);
    page << ReportHtml(report, source);
    if (!page.flush()) {
      std::fprintf(env.err, "vantorel-cli: cannot write %s\n", args.html.c_str());
      return kExitFailed;
    }
    std::fprintf(env.out, "report: %s written\n", args.html.c_str());
  } else {
    std::fputs(ReportText(report, source).c_str(), env.out);
  }
  std::fflush(env.out);
  return kExitOk;
}

}  // namespace vtcli

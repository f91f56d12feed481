// The update check: asks the maker's update page whether this version is
// current (at launch at most once in 7 days while the weekly check is on;
// on demand from Help-Check for Updates), and the maker's web page.
//
// Thread: the GUI thread. The request waits in a local event loop that
// ignores user input, bounded by a time-out, so an unreachable host delays
// start-up by at most that long.
#pragma once

#include <QString>
#include <QUrl>
#include <ctime>
#include <optional>

#include "frontend/core/reporters.h"
#include "frontend/core/run_log.h"

namespace frontend_ui {

class Opener;

// Where the maker's pages live and how long to wait for an answer.
struct UpdateService {
  QUrl base = QUrl(QStringLiteral("http://" CORVELLA_UPDATE_HOST));  // scheme and host (and port)
  int timeout_ms = 10000;
  bool use_system_proxy = true;
};

inline constexpr const char* kUpdateUserAgent = "Tindalo";
inline constexpr int kUpdateIntervalSeconds = 604800;  // 7 days
inline constexpr const char* kNoUpdateCheckYet = "1970-01-01 01:01:01";

// The version text: blanks removed, "," turned into "."; "?" when empty.
QString normaliseVersion(const QString& version);
// This build's version, normalised.
QString productVersion();

// The update request for a version, and the web page.
QUrl updateRequestUrl(const QUrl& base, const QString& version);
QUrl webSiteUrl(const QUrl& base);

// Whether a launch is due to ask, given App/UpdateCheckDate ("%Y-%m-%d
// %H:%M:%S", local time): when the text is shorter than 19 characters, is
// not a valid time, or lies 7 days or more before now. A time after now is
// not due.
bool launchCheckDue(const QString& last_check, std::time_t now);
// now as "%Y-%m-%d %H:%M:%S" in local time.
QString formatCheckDate(std::time_t now);

// The first line of the answer to a GET of url (a trailing "\r" removed);
// nothing on any failure: no connection, an HTTP error status, an empty
// answer, or the time-out.
std::optional<QString> fetchFirstLine(const QUrl& url, const UpdateService& service);

// The check, with the main window's version text, run log and message
// boxes. manual is false at launch and true for Help-Check for Updates.
void checkForUpdates(bool manual, QString& version_text, frontend::RunLogSink& log, frontend::MessageBoxes& boxes,
                     const UpdateService& service = {}, std::time_t now = std::time(nullptr));

// Help-Web Site: asks the desktop to open the maker's page; a box says so,
// and why, when no browser could be started or it failed.
void openWebSite(Opener& opener, frontend::MessageBoxes& boxes, const UpdateService& service = {});
// The box's text.
std::string cantOpenWebSiteText(const QUrl& url);

}  // namespace frontend_ui

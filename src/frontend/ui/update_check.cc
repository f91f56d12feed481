#include "frontend/ui/update_check.h"

#include "frontend/ui/app_settings.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrlQuery>
#include <memory>
#include <string>

#include "frontend/ui/opener.h"
#include "frontend/ui/preferences_dialog.h"

namespace frontend_ui {

namespace {

constexpr const char* kUpToDate = "YES";

void logText(frontend::RunLogSink& log, const QString& text) { log.appendRunLog(text.toStdString().c_str()); }

// Digits only; -1 when the field holds anything else.
int decimalField(const QString& text, int pos, int length) {
  int value = 0;
  for (int i = pos; i < pos + length; ++i) {
    const QChar c = text.at(i);
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c.unicode() - '0');
  }
  return value;
}

}  // namespace

QString normaliseVersion(const QString& version) {
  QString text = version;
  text.remove(' ');
  text.replace(',', '.');
  return text.isEmpty() ? QString("?") : text;
}

QString productVersion() { return normaliseVersion(QStringLiteral(CORVELLA_VERSION)); }

QUrl updateRequestUrl(const QUrl& base, const QString& version) {
  QUrl url = base;
  url.setPath("/Tindalo/update_check.php");
  QUrlQuery query;
  query.addQueryItem("product", "qx");
  query.addQueryItem("platform", "linux");
  query.addQueryItem("version", version);
  url.setQuery(query);
  return url;
}

QUrl webSiteUrl(const QUrl& base) {
  QUrl url = base;
  url.setPath("/Tindalo/index.php");
  url.setQuery("tag=qx");
  return url;
}

bool launchCheckDue(const QString& last_check, std::time_t now) {
  if (last_check.size() < 19) return true;
  struct tm when = {};
  const int year = decimalField(last_check, 0, 4);
  const int month = decimalField(last_check, 5, 2);
  const int day = decimalField(last_check, 8, 2);
  const int hour = decimalField(last_check, 11, 2);
  const int minute = decimalField(last_check, 14, 2);
  const int second = decimalField(last_check, 17, 2);
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59) {
    return true;
  }
  when.tm_year = year - 1900;
  when.tm_mon = month - 1;
  when.tm_mday = day;
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  when.tm_isdst = -1;
  const std::time_t then = mktime(&when);
  if (then == static_cast<std::time_t>(-1)) return true;
  if (now < then) return false;
  return now - then >= kUpdateIntervalSeconds;
}

QString formatCheckDate(std::time_t now) {
  struct tm local = {};
  localtime_r(&now, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return QString::fromLatin1(text);
}

std::optional<QString> fetchFirstLine(const QUrl& url, const UpdateService& service) {
  QNetworkAccessManager network;
  if (service.use_system_proxy) {
    QNetworkProxyFactory::setUseSystemConfiguration(true);
  } else {
    network.setProxy(QNetworkProxy::NoProxy);
  }
  QNetworkRequest request(url);
  request.setHeader(QNetworkRequest::UserAgentHeader, QString(kUpdateUserAgent));
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);

  std::unique_ptr<QNetworkReply> reply(network.get(request));
  QEventLoop loop;
  QTimer timeout;
  timeout.setSingleShot(true);
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
  timeout.start(service.timeout_ms);
  if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);

  if (!reply->isFinished()) {
    reply->abort();
    return std::nullopt;
  }
  if (reply->error() != QNetworkReply::NoError) return std::nullopt;
  QByteArray body = reply->readAll();
  if (body.isEmpty()) return std::nullopt;
  const qsizetype end = body.indexOf('\n');
  QByteArray line = end < 0 ? body : body.left(end);
  if (line.endsWith('\r')) line.chop(1);
  return QString::fromUtf8(line);
}

void checkForUpdates(bool manual, QString& version_text, frontend::RunLogSink& log, frontend::MessageBoxes& boxes,
                     const UpdateService& service, std::time_t now) {
  version_text = productVersion();
  const QString version_line = "Corvella Version ";

  if (!manual) {
    const bool on = app_settings::value("UpdateCheck", 1).toInt() != 0;
    if (!on) {
      logText(log, version_line + version_text);
      return;
    }
    const QString last_check = app_settings::value("UpdateCheckDate", QString(kNoUpdateCheckYet)).toString();
    if (!launchCheckDue(last_check, now)) {
      logText(log, version_line + version_text);
      return;
    }
    if (!app_settings::setValue("UpdateCheckDate", formatCheckDate(now))) boxes.showMessage(kCantWriteProfile);
  }

  const std::optional<QString> line = fetchFirstLine(updateRequestUrl(service.base, version_text), service);

  if (!manual) {
    if (line && *line == kUpToDate) version_text += " (up-to-date)";
    logText(log, version_line + version_text);
  }
  if (line) {
    if (*line == kUpToDate) {
      if (manual) boxes.showMessage("Corvella is up-to-date.");
    } else {
      // The answer goes on a line of its own below the version line.
      if (!manual) logText(log, "\n" + *line + "\n");
      boxes.showMessage("An Corvella update may be available. Choose Help-Web Site for details.");
    }
  } else if (manual) {
    boxes.showMessage("Update check failed (ingestion will proceed normally).");
  } else {
    logText(log, "\nUpdate check failed (ingestion will proceed)\n");
  }
}

std::string cantOpenWebSiteText(const QUrl& url) {
  return "Could not start a web browser to show " + url.toString().toStdString() + ".";
}

void openWebSite(Opener& opener, frontend::MessageBoxes& boxes, const UpdateService& service) {
  const QUrl url = webSiteUrl(service.base);
  opener.openUrl(url, [&boxes, url](const std::string& why) {
    boxes.showMessage(withReason(cantOpenWebSiteText(url), why));
  });
}

}  // namespace frontend_ui

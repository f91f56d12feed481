// The update check against a small HTTP server on 127.0.0.1, and the rule
// that a launch asks at most once in 7 days.
#include "frontend/ui/update_check.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <string>
#include <vector>

#include "frontend/ui/opener.h"
#include "qt_app.h"
#include "support/recording_sinks.h"
#include "support/temp_folder.h"

namespace {

using testing_support::RecordingBoxes;
using testing_support::RecordingLog;

using frontend_ui::UpdateService;

// Answers every request with one canned HTTP response (or never answers),
// and keeps the requests it received.
class UpdateServer : public QObject {
 public:
  enum class Answer { Yes, No, ServerError, Empty, Silent };

  explicit UpdateServer(Answer answer) : answer_(answer) {
    if (!server_.listen(QHostAddress("127.0.0.1"), 0)) std::abort();
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
      }
    });
  }

  QUrl base() const { return QUrl(QString("http://127.0.0.1:%1").arg(server_.serverPort())); }
  const std::vector<QByteArray>& requests() const { return requests_; }

 private:
  void serve(QTcpSocket* socket) {
    QByteArray& buffer = pending_[socket];
    buffer += socket->readAll();
    if (!buffer.contains("\r\n\r\n")) return;
    requests_.push_back(buffer);
    buffer.clear();
    QByteArray status = "200 OK";
    QByteArray body;
    switch (answer_) {
      case Answer::Yes: body = "YES\r\n"; break;
      case Answer::No: body = "NO\r\nsee the web site\r\n"; break;
      case Answer::ServerError: status = "500 Internal Server Error"; body = "YES\r\n"; break;
      case Answer::Empty: break;
      case Answer::Silent: return;
    }
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
  }

  Answer answer_;
  QTcpServer server_;
  std::map<QTcpSocket*, QByteArray> pending_;
  std::vector<QByteArray> requests_;
};

class RecordingOpener : public frontend_ui::Opener {
 public:
  bool openUrl(const QUrl& url, frontend_ui::OpenFailed failed) override {
    opened.push_back(url);
    if (fails || fails_late) failed("xdg-open ended with exit status 3: no browser");
    return !fails;
  }
  std::vector<QUrl> opened;
  bool fails = false;
  bool fails_late = false;
};

// A fixed "now" in local time, and texts relative to it.
std::time_t localTime(int year, int month, int day, int hour, int minute, int second) {
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return mktime(&t);
}

const std::time_t kNow = localTime(2024, 6, 15, 12, 0, 0);
const std::string kVersionLine = std::string("Corvella Version ") + CORVELLA_VERSION;
const std::string kUpdateMessage = "An Corvella update may be available. Choose Help-Web Site for details.";

class UpdateCheckTest : public testing_support::QtTest {
 protected:
  UpdateCheckTest() : env_(dir_.path()) { testing_support::use_isolated_settings(); }

  void setApp(const char* name, const QVariant& value) {
    QSettings("Aldercrest", "Corvella").setValue(QString("App/") + name, value);
  }
  QString lastCheck() { return QSettings("Aldercrest", "Corvella").value("App/UpdateCheckDate").toString(); }

  // Runs the check against a server giving `answer`.
  void check(bool manual, UpdateServer::Answer answer, int timeout_ms = 5000) {
    server_ = std::make_unique<UpdateServer>(answer);
    UpdateService service;
    service.base = server_->base();
    service.timeout_ms = timeout_ms;
    service.use_system_proxy = false;
    frontend_ui::checkForUpdates(manual, version_, log_, boxes_, service, kNow);
  }
  size_t requests() const { return server_->requests().size(); }

  testing_support::TempFolder dir_;
  testing_support::IsolatedEnvironment env_;
  std::unique_ptr<UpdateServer> server_;
  RecordingLog log_;
  RecordingBoxes boxes_;
  QString version_ = "?";
};

TEST_F(UpdateCheckTest, TheRequestCarriesItsPathQueryAndUserAgent) {
  check(true, UpdateServer::Answer::Yes);
  ASSERT_EQ(requests(), 1u);
  const QByteArray request = server_->requests()[0];
  EXPECT_TRUE(request.startsWith(QByteArray("GET /Tindalo/update_check.php?product=qx&platform=linux&version=") +
                                 CORVELLA_VERSION + " HTTP/1.1\r\n"))
      << request.toStdString();
  EXPECT_TRUE(request.contains("\r\nUser-Agent: Tindalo\r\n")) << request.toStdString();
}

struct ReplyCase {
  const char* name;
  bool manual;
  UpdateServer::Answer answer;
  std::string log;
  std::vector<std::string> boxes;
  QString version;
};

TEST_F(UpdateCheckTest, EachReplyGivesItsLogAndMessages) {
  const QString v = CORVELLA_VERSION;
  const ReplyCase cases[] = {
      {"launch YES", false, UpdateServer::Answer::Yes, kVersionLine + " (up-to-date)", {}, v + " (up-to-date)"},
      {"launch NO", false, UpdateServer::Answer::No, kVersionLine + "\nNO\n", {kUpdateMessage}, v},
      {"launch HTTP error", false, UpdateServer::Answer::ServerError,
       kVersionLine + "\nUpdate check failed (ingestion will proceed)\n", {}, v},
      {"launch empty reply", false, UpdateServer::Answer::Empty,
       kVersionLine + "\nUpdate check failed (ingestion will proceed)\n", {}, v},
      {"manual YES", true, UpdateServer::Answer::Yes, "", {"Corvella is up-to-date."}, v},
      {"manual NO", true, UpdateServer::Answer::No, "", {kUpdateMessage}, v},
      {"manual HTTP error", true, UpdateServer::Answer::ServerError, "",
       {"Update check failed (ingestion will proceed normally)."}, v},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    setApp("UpdateCheckDate", frontend_ui::kNoUpdateCheckYet);
    log_.text_.clear();
    boxes_.shown.clear();
    check(c.manual, c.answer);
    EXPECT_EQ(requests(), 1u);
    EXPECT_EQ(log_.text_, c.log);
    EXPECT_EQ(boxes_.shown, c.boxes);
    EXPECT_EQ(version_, c.version);
    // Only a launch that asked moves the date.
    EXPECT_EQ(lastCheck(), c.manual ? QString(frontend_ui::kNoUpdateCheckYet) : frontend_ui::formatCheckDate(kNow));
  }
}

TEST_F(UpdateCheckTest, ASilentHostTimesOut) {
  QElapsedTimer clock;
  clock.start();
  check(false, UpdateServer::Answer::Silent, 300);
  EXPECT_LT(clock.elapsed(), 3000);
  EXPECT_EQ(requests(), 1u);
  EXPECT_EQ(log_.text_, kVersionLine + "\nUpdate check failed (ingestion will proceed)\n");

  boxes_.shown.clear();
  check(true, UpdateServer::Answer::Silent, 300);
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"Update check failed (ingestion will proceed normally)."});
}

TEST_F(UpdateCheckTest, NoListenerCountsAsAFailedCheck) {
  UpdateService service;
  {
    UpdateServer closed(UpdateServer::Answer::Yes);
    service.base = closed.base();
  }
  service.use_system_proxy = false;
  service.timeout_ms = 5000;
  frontend_ui::checkForUpdates(true, version_, log_, boxes_, service, kNow);
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"Update check failed (ingestion will proceed normally)."});
}

struct DueCase {
  const char* name;
  QString last_check;  // null: never checked
  bool asks;
};

TEST_F(UpdateCheckTest, ALaunchAsksAtMostOnceInSevenDays) {
  const DueCase cases[] = {
      {"first launch", QString(), true},
      {"3 days later", "2024-06-12 12:00:00", false},
      {"a second short of 7 days", "2024-06-08 12:00:01", false},
      {"7 days later", "2024-06-08 12:00:00", true},
      {"a month later", "2024-05-15 12:00:00", true},
      {"a date in the future", "2024-07-01 00:00:00", false},
      {"not a date", "2024-13-01 00:00:00", true},
      {"letters", "yesterday at noon, roughly", true},
      {"too short", "2024-06-12", true},
      {"hour out of range", "2024-06-12 24:00:00", true},
  };
  for (const DueCase& c : cases) {
    SCOPED_TRACE(c.name);
    QSettings("Aldercrest", "Corvella").remove("App/UpdateCheckDate");
    if (!c.last_check.isNull()) setApp("UpdateCheckDate", c.last_check);
    log_.text_.clear();
    check(false, UpdateServer::Answer::Yes);
    EXPECT_EQ(requests(), c.asks ? 1u : 0u);
    if (c.asks) {
      EXPECT_EQ(lastCheck(), frontend_ui::formatCheckDate(kNow));
      EXPECT_EQ(log_.text_, kVersionLine + " (up-to-date)");
    } else {
      EXPECT_EQ(lastCheck(), c.last_check);
      EXPECT_EQ(log_.text_, kVersionLine);
    }
  }
}

TEST_F(UpdateCheckTest, WithTheWeeklyCheckOffOnlyTheManualCheckAsks) {
  setApp("UpdateCheck", 0);
  check(false, UpdateServer::Answer::No);
  EXPECT_EQ(requests(), 0u);
  EXPECT_EQ(log_.text_, kVersionLine);
  EXPECT_TRUE(boxes_.shown.empty());
  EXPECT_FALSE(QSettings("Aldercrest", "Corvella").contains("App/UpdateCheckDate"));

  check(true, UpdateServer::Answer::No);
  EXPECT_EQ(requests(), 1u);
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{kUpdateMessage});
}

TEST(UpdateVersion, BlanksGoAndCommasBecomeDots) {
  const std::pair<QString, QString> cases[] = {
      {"1, 2, 3, 4", "1.2.3.4"}, {" 0.1.0 ", "0.1.0"}, {"", "?"}, {"   ", "?"}, {"2,0", "2.0"}};
  for (const auto& [given, shown] : cases) EXPECT_EQ(frontend_ui::normaliseVersion(given), shown) << given.toStdString();
}

TEST_F(UpdateCheckTest, WebSiteOpensTheMakersPage) {
  RecordingOpener opener;
  RecordingBoxes boxes;
  frontend_ui::openWebSite(opener, boxes);
  ASSERT_EQ(opener.opened.size(), 1u);
  const QString page = QString("http://") + CORVELLA_UPDATE_HOST + "/Tindalo/index.php?tag=qx";
  EXPECT_EQ(opener.opened[0].toString(), page);
  EXPECT_TRUE(boxes.shown.empty());

  // No browser could be started, at once or as the opener found out later.
  const std::string text =
      "Could not start a web browser to show " + page.toStdString() + ".\r\rxdg-open ended with exit status 3: no browser";
  for (bool late : {false, true}) {
    RecordingOpener failing;
    (late ? failing.fails_late : failing.fails) = true;
    RecordingBoxes told;
    frontend_ui::openWebSite(failing, told);
    EXPECT_EQ(told.shown, std::vector<std::string>{text}) << late;
  }
}

}  // namespace

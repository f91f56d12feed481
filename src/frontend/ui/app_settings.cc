#include "frontend/ui/app_settings.h"

#include <QFile>
#include <QSettings>

namespace app_settings {

namespace {

QString value_text(const char* name) {
  QSettings settings(kOrganisation, kApplication);
  return settings.value(QString("App/") + name).toString();
}

std::string to_bytes(const QString& s) { return QFile::encodeName(s).toStdString(); }

}  // namespace

std::string getCurrentJob() {
  QString job = value_text("CurrentJob");
  return job.isEmpty() ? "Default" : to_bytes(job);
}

bool writeCurrentJob(const std::string& name) {
  QSettings settings(kOrganisation, kApplication);
  settings.setValue("App/CurrentJob", QFile::decodeName(QByteArray::fromStdString(name)));
  settings.sync();
  return settings.status() == QSettings::NoError;
}

std::string getConverterApp() {
  QString path = value_text("ConverterApp");
  return path.isEmpty() ? kDefaultConverter : to_bytes(path);
}

}  // namespace app_settings

#include "frontend/ui/app_settings.h"
#include "frontend/ui/widget_helpers.h"

#include <QFile>
#include <QSettings>

namespace app_settings {

namespace {

using frontend_ui::to_bytes;

}  // namespace

QVariant value(const QString& name, const QVariant& fallback) {
  QSettings settings(kOrganisation, kApplication);
  return settings.value("App/" + name, fallback);
}

bool setValue(const QString& name, const QVariant& value) {
  QSettings settings(kOrganisation, kApplication);
  settings.setValue("App/" + name, value);
  settings.sync();
  return settings.status() == QSettings::NoError;
}

std::string getCurrentJob() {
  QString job = value("CurrentJob", QString()).toString();
  return job.isEmpty() ? "Default" : to_bytes(job);
}

bool writeCurrentJob(const std::string& name) {
  return setValue("CurrentJob", QFile::decodeName(QByteArray::fromStdString(name)));
}

std::string getConverterApp() {
  QString path = value("ConverterApp", QString()).toString();
  return path.isEmpty() ? kDefaultConverter : to_bytes(path);
}

bool setConverterApp(const std::string& path) {
  return setValue("ConverterApp", QFile::decodeName(QByteArray::fromStdString(path)));
}

}  // namespace app_settings

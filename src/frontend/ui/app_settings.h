// The program's own values, kept with QSettings (organisation "Aldercrest",
// application "Corvella", group "App"): CurrentJob, ConverterApp,
// UpdateCheck, UpdateCheckDate.
//
// Thread: the window's thread.
#pragma once

#include <QString>
#include <QVariant>
#include <string>

namespace app_settings {

inline constexpr const char* kOrganisation = "Aldercrest";
inline constexpr const char* kApplication = "Corvella";
inline constexpr const char* kDefaultConverter = "/usr/local/bin/dng-converter";

// Any value of the group "App", or fallback when it is missing.
QVariant value(const QString& name, const QVariant& fallback);
// Stores a value; false when the settings file could not be written.
bool setValue(const QString& name, const QVariant& value);

// App/CurrentJob, or "Default" when it is empty or missing.
std::string getCurrentJob();
// Writes App/CurrentJob; false when the settings file could not be written.
bool writeCurrentJob(const std::string& name);

// App/ConverterApp, or the default converter path.
std::string getConverterApp();
// False (and nothing stored) when the value could not be written.
bool setConverterApp(const std::string& path);

}  // namespace app_settings

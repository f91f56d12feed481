// Small helpers every window of the program shares: controls named by their
// ids, and the conversion between the byte strings the run core keeps
// (paths and job names as the file system has them) and Qt's strings.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <string>

namespace frontend_ui {

// A file-system byte string as text (the locale's file-name encoding).
inline QString from_bytes(const std::string& s) { return QFile::decodeName(QByteArray::fromStdString(s)); }
inline std::string to_bytes(const QString& s) { return QFile::encodeName(s).toStdString(); }

// A push button whose objectName is its id; it never becomes the default
// button, so Enter does not press it.
inline QPushButton* button(QWidget* parent, const char* id, const char* text) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(id);
  b->setAutoDefault(false);
  return b;
}

inline QLabel* label(QWidget* parent, const char* text) { return new QLabel(text, parent); }

}  // namespace frontend_ui

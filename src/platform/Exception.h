#pragma once

#include <stdexcept>
#include <string>

#include <QString>

namespace sonarelle {

// Base of every error the program shows to the user: it carries the message text.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  explicit Exception(const QString& message) : std::runtime_error(message.toStdString()) {}

  QString Message() const { return QString::fromUtf8(what()); }
};

}  // namespace sonarelle

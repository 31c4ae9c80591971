// Text helpers shared by the remote window's files.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <string>

namespace ondrevo {

inline QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// Fills "%s" and "%.0n" (a whole number with the locale's digit grouping) in order.
inline QString FormatText(const QString& format, const QStringList& args) {
  QString result;
  int next = 0;
  for (int i = 0; i < format.size(); ++i) {
    if (format[i] == QLatin1Char('%') && next < args.size()) {
      if (format.mid(i, 2) == QLatin1String("%s")) {
        result += args[next++];
        i += 1;
        continue;
      }
      if (format.mid(i, 4) == QLatin1String("%.0n")) {
        result += args[next++];
        i += 3;
        continue;
      }
    }
    result += format[i];
  }
  return result;
}

inline QString WholeNumber(long long n) {
  return QLocale().toString(n);
}

}  // namespace ondrevo

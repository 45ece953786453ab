#pragma once

#include <QString>

// The program's fixed identity; compiled in, never configurable.
namespace AppIdentity {
inline const QString organisationName = QStringLiteral("Orvane Software");
inline const QString applicationName = QStringLiteral("ZELK");
inline const QString versionText = QStringLiteral("1.004");
constexpr int versionNumber = 1004;
inline const QString buildText = QStringLiteral("25.0805");
inline const QString settingsFileName = QStringLiteral("zelk.ini");
} // namespace AppIdentity

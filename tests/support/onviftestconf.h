#pragma once

#include <QString>
#include <QStringList>

// Writes onvif.conf into the test's installation directory.
namespace varno::test {

// lines: "key = value" lines; the file is replaced.
bool writeOnvifConf(const QStringList &lines);

} // namespace varno::test

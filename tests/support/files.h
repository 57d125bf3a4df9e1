#pragma once

#include <QByteArray>
#include <QString>

namespace varno::test {

// A file's bytes (empty when it cannot be read), and a file written whole
// (replacing what was there).
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &data);

} // namespace varno::test

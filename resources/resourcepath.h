#pragma once

#include <QString>

// Images ("./images/...") and translations ("./language/...") are looked up
// relative to the working directory first, so that an installation can
// replace them; otherwise the copies built into the program are used.
namespace varno {

// "./images/dvr_gray.png" -> "./images/dvr_gray.png" when that file exists in
// the working directory, else ":/images/dvr_gray.png" when it is built in,
// else the name as given (loading it then fails like any missing file).
QString resourcePath(const QString &name);

} // namespace varno

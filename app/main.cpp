#include "common/installdir.h"
#include "common/logfile.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    varno::enterInstallDir();
    WriteLog(0, "============>Start Varno #compile time:%s #version:%s<============", VARNO_BUILD_DATE_TEXT,
             VARNO_VERSION_TEXT);
    return 0;
}

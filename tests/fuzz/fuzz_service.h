#pragma once
// Set-up shared by the fuzz targets that reach the telephony service: the
// application object, a registry store of the run's own (removed at exit),
// and the service loaded through the binding from next to the program.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

namespace zq::fuzz {

inline void StartService(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication app(*argc, *argv);
    static QTemporaryDir dir(QDir::tempPath() + "/zq-fuzz-XXXXXX");
    setenv("ZQ_REGISTRY_FILE", (dir.path() + "/registry.json").toLocal8Bit().constData(), 1);
    // Rings and answers without the exchange's pauses.
    setenv("ZQ_TEST", "1", 0);
    // Each refused input is reported; millions of reports say nothing more.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

} // namespace zq::fuzz

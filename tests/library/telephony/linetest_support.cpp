#include "linetest_support.h"

#include <QCoreApplication>

#include <cstdlib>
#include <unistd.h>

std::string ProgramDir()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string path(buf, n > 0 ? static_cast<size_t>(n) : 0);
    return path.substr(0, path.rfind('/'));
}

void UseOwnRegistry()
{
    static QTemporaryDir dir;
    setenv("ZQ_REGISTRY_FILE", (dir.path() + "/registry.json").toLocal8Bit().constData(), 1);
}

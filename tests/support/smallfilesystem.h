#pragma once
// A file system of 64 KiB of its own, for tests that fill a disk up. It is
// mounted in a folder of the test's and taken down with the object, before
// the folder goes. Mounting needs root; a test without it skips.
#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/mount.h>

namespace zqtest {

class SmallFileSystem {
public:
    SmallFileSystem() = default;
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    ~SmallFileSystem()
    {
        if (mounted_)
            ::umount2(QFile::encodeName(path_).constData(), MNT_DETACH);
    }

    // Mounts it at path, made when missing; false, with Refusal() saying
    // why, when it cannot be had.
    bool Mount(const QString& path)
    {
        path_ = path;
        if (!QDir().mkpath(path)) {
            refusal_ = "cannot make " + path.toStdString();
            return false;
        }
        if (::mount("zqtest", QFile::encodeName(path).constData(), "tmpfs", 0, "size=64k") != 0) {
            refusal_ = "cannot mount a small file system to fill (" + std::string(std::strerror(errno))
                + "); this test needs to run as root";
            return false;
        }
        mounted_ = true;
        return true;
    }
    bool Mounted() const { return mounted_; }
    const std::string& Refusal() const { return refusal_; }

private:
    QString path_;
    std::string refusal_;
    bool mounted_ = false;
};

} // namespace zqtest

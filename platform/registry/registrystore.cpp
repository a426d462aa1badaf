#include "registrystore_p.h"

#include "registry.h"
#include "registryformat_p.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zqreg {

namespace {

FileStamp StampOf(const struct stat& st)
{
    FileStamp s;
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modified = st.st_mtim;
    return s;
}

FileStamp StampOfPath(const QString& path)
{
    struct stat st { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return StampOf(st);
}

// The rename that replaced the file is durable only once its directory is.
void SyncDirectory(const QString& filePath)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(filePath).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

QString CorruptCopyPath(const QString& path)
{
    const QString base = path + QStringLiteral(".corrupt-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString candidate = base;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = base + QLatin1Char('-') + QString::number(n);
    return candidate;
}

} // namespace

bool FileStamp::operator==(const FileStamp& other) const
{
    if (exists != other.exists)
        return false;
    return !exists
        || (device == other.device && inode == other.inode && size == other.size
            && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec);
}

QString StoreFilePath()
{
    const QString explicitPath = qEnvironmentVariable("ZQ_REGISTRY_FILE");
    if (!explicitPath.isEmpty())
        return explicitPath;
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/zqcomm/registry.json");
}

RegistryStore& RegistryStore::instance()
{
    static RegistryStore store;
    return store;
}

RegistryStore::~RegistryStore()
{
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

RegTree& RegistryStore::read()
{
    syncWithFile();
    return tree_;
}

void RegistryStore::syncWithFile()
{
    const QString wanted = StoreFilePath();
    if (wanted != path_) {
        path_ = wanted;
        loaded_ = false;
        blocked_ = false;
    }
    const FileStamp now = StampOfPath(path_);
    if (loaded_ && now == stamp_)
        return;
    load(now);
}

void RegistryStore::load(const FileStamp& stamp)
{
    tree_ = RegTree {};
    loaded_ = true;
    blocked_ = false;
    stamp_ = stamp;
    if (!stamp.exists)
        return;

    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << QStringLiteral("zqregistry: cannot read the registry store \"%1\" (%2); "
                                               "an empty registry is used and changes are refused")
                                    .arg(path_, file.errorString());
        blocked_ = true;
        return;
    }
    // The stamp must describe the content actually read, which may be newer
    // than the one seen by the caller.
    struct stat st { };
    if (::fstat(file.handle(), &st) == 0)
        stamp_ = StampOf(st);
    const QByteArray content = file.readAll();
    if (content.trimmed().isEmpty())
        return;
    QString reason;
    if (!DecodeTree(content, tree_, &reason)) {
        tree_ = RegTree {};
        setAsideCorrupt(reason, stamp_);
    }
}

void RegistryStore::setAsideCorrupt(const QString& reason, const FileStamp& stamp)
{
    const QString aside = CorruptCopyPath(path_);
    if (QFile::rename(path_, aside)) {
        qWarning().noquote() << QStringLiteral("zqregistry: the registry store \"%1\" is corrupt (%2); "
                                               "it was moved to \"%3\" and an empty registry is used")
                                    .arg(path_, reason, aside);
        stamp_ = StampOfPath(path_);
        return;
    }
    qWarning().noquote() << QStringLiteral(
        "zqregistry: the registry store \"%1\" is corrupt (%2) and cannot "
        "be moved aside; an empty registry is used and changes are refused")
                                .arg(path_, reason);
    stamp_ = stamp;
    blocked_ = true;
}

LONG RegistryStore::beginChange()
{
    syncWithFile();
    lockFile();
    // Another program may have written between the first look and the lock.
    syncWithFile();
    if (blocked_) {
        unlockFile();
        return LONG(ERROR_BADDB);
    }
    return LONG(ERROR_SUCCESS);
}

LONG RegistryStore::commitChange()
{
    QString error;
    const bool saved = save(&error);
    if (!saved) {
        qWarning().noquote()
            << QStringLiteral("zqregistry: cannot write the registry store \"%1\": %2").arg(path_, error);
        // Only what reached the file counts; drop the change that did not.
        load(StampOfPath(path_));
    }
    unlockFile();
    return saved ? LONG(ERROR_SUCCESS) : LONG(ERROR_CANTWRITE);
}

void RegistryStore::abandonChange()
{
    unlockFile();
}

bool RegistryStore::save(QString* error)
{
    const QString dir = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create the folder \"%1\"").arg(dir);
        return false;
    }
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray content = EncodeTree(tree_);
    if (file.write(content) != content.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    SyncDirectory(path_);
    stamp_ = StampOfPath(path_);
    return true;
}

// Writers in other processes are kept out for the duration of a change, so
// no program writes a tree that misses another's change it has not read.
void RegistryStore::lockFile()
{
    const QString wanted = path_ + QStringLiteral(".lock");
    if (lockFd_ >= 0 && wanted != lockPath_) {
        ::close(lockFd_);
        lockFd_ = -1;
    }
    if (lockFd_ < 0) {
        QDir().mkpath(QFileInfo(path_).absolutePath());
        lockFd_ = ::open(QFile::encodeName(wanted).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        lockPath_ = wanted;
    }
    if (lockFd_ < 0)
        return; // the write will fail and say why
    while (::flock(lockFd_, LOCK_EX) != 0 && errno == EINTR) { }
}

void RegistryStore::hold()
{
    syncWithFile();
    lockFile();
    ++holds_;
    // What was read before the lock may be stale.
    syncWithFile();
}

void RegistryStore::release()
{
    if (holds_ > 0 && --holds_ == 0)
        unlockFile();
}

void RegistryStore::unlockFile()
{
    if (holds_ == 0 && lockFd_ >= 0)
        ::flock(lockFd_, LOCK_UN);
}

} // namespace zqreg

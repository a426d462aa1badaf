#include "registrystore_p.h"

#include "registry.h"
#include "registryformat_p.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zq::registry {

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
    const LONG rc = save(&error);
    if (rc != LONG(ERROR_SUCCESS)) {
        qWarning().noquote() << QStringLiteral("zqregistry: cannot write the registry store \"%1\": %2; "
                                               "the change is not saved and the store is left as it was")
                                    .arg(path_, error);
        // Only what reached the file counts; drop the change that did not.
        load(StampOfPath(path_));
    }
    unlockFile();
    return rc;
}

void RegistryStore::abandonChange()
{
    unlockFile();
}

LONG RegistryStore::save(QString* error)
{
    const QString dir = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create the folder \"%1\"").arg(dir);
        return LONG(ERROR_CANTWRITE);
    }
    // The new content goes to a file of its own beside the store, and
    // replaces the store only once every byte of it is known to be on disk:
    // a full disk must leave the old store, not a cut one.
    QByteArray temp = QFile::encodeName(path_) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        *error = QStringLiteral("cannot create a file in \"%1\": %2")
                     .arg(dir, QString::fromLocal8Bit(std::strerror(err)));
        return err == ENOSPC || err == EDQUOT ? LONG(ERROR_DISK_FULL) : LONG(ERROR_CANTWRITE);
    }
    const auto fail = [&](const char* step, int err) {
        ::unlink(temp.constData());
        *error = QStringLiteral("%1 failed: %2")
                     .arg(QLatin1String(step), QString::fromLocal8Bit(std::strerror(err)));
        return err == ENOSPC || err == EDQUOT ? LONG(ERROR_DISK_FULL) : LONG(ERROR_WRITE_FAULT);
    };
    // mkostemp makes the file private; a store keeps the mode it had.
    struct stat old { };
    const mode_t mode
        = ::stat(QFile::encodeName(path_).constData(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    ::fchmod(fd, mode);
    const QByteArray content = EncodeTree(tree_);
    for (qsizetype done = 0; done < content.size();) {
        const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            ::close(fd);
            return fail("writing", err);
        }
        done += n;
    }
    if (::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        return fail("flushing to disk", err);
    }
    if (::close(fd) != 0)
        return fail("closing", errno);
    if (::rename(temp.constData(), QFile::encodeName(path_).constData()) != 0)
        return fail("replacing the store", errno);
    SyncDirectory(path_);
    stamp_ = StampOfPath(path_);
    return LONG(ERROR_SUCCESS);
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

} // namespace zq::registry

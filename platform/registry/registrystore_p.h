#pragma once
// The registry's one store: the key tree of this process and the file that
// keeps it. The file is read when first needed and read again whenever it
// has changed on disk (another program wrote it); every change is written
// at once, by replacing the file atomically.
#include "registrytree_p.h"

#include <QString>

#include <ctime>
#include <mutex>
#include <sys/types.h>

namespace zq::registry {

// Identity of the file's content as last seen: a rewrite replaces the file
// (a new inode) and sets a new modification time.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified {};

    bool operator==(const FileStamp& other) const;
};

class RegistryStore {
public:
    static RegistryStore& instance();

    // Guards the tree and everything built on it (the open-key table).
    std::mutex& mutex() { return mutex_; }

    // The tree, brought up to date with the file. Lock held.
    RegTree& read();

    // Starts a change: the file is locked against other writers and the tree
    // brought up to date. ERROR_SUCCESS, or why the store cannot be changed
    // (then no change may be made and finishChange need not be called). Lock held.
    LONG beginChange();
    // Writes the changed tree and ends the change. When writing fails, the
    // store file is left as it was, the change is dropped (the tree is read
    // again from the file), a warning says why, and the error code is
    // returned: ERROR_DISK_FULL, ERROR_WRITE_FAULT, or ERROR_CANTWRITE when
    // no file could be made beside the store.
    LONG commitChange();
    // Ends a change that changed nothing.
    void abandonChange();

    QString path() const { return path_; }

    // Keeps other programs' writers out until released, across the
    // changes made meanwhile. Nests. Lock held for each call.
    void hold();
    void release();

private:
    RegistryStore() = default;
    ~RegistryStore();

    void syncWithFile();
    void load(const FileStamp& stamp);
    void setAsideCorrupt(const QString& reason, const FileStamp& stamp);
    LONG save(QString* error);
    void lockFile();
    void unlockFile();

    std::mutex mutex_;
    RegTree tree_;
    QString path_;
    FileStamp stamp_;
    bool loaded_ = false;
    // The file could neither be read nor moved aside: it must not be replaced.
    bool blocked_ = false;
    int lockFd_ = -1;
    int holds_ = 0;
    QString lockPath_;
};

// Where the store lives: ZQ_REGISTRY_FILE, or zqcomm/registry.json in the
// user's configuration directory.
QString StoreFilePath();

} // namespace zq::registry

#pragma once
// Points this process, and the programs it starts, at a registry store in a
// scratch folder. Called before anything reads the store.
#include "fastrings.h"

#include <QTemporaryDir>

#include <cstdlib>

namespace zqtest {

inline void UseScratchStore(const QTemporaryDir& dir)
{
    setenv("ZQ_REGISTRY_FILE", dir.filePath("registry.json").toLocal8Bit().constData(), 1);
}

// A store in a folder of the process's own, removed when the process ends.
inline void UseScratchStore()
{
    static const QTemporaryDir dir;
    UseScratchStore(dir);
}

// The scratch store with the exchange ringing quickly, and device 0's sound
// kept in a raw file in the same folder.
inline void UseScratchStoreWithFastRings(const QTemporaryDir& dir)
{
    UseScratchStore(dir);
    setenv("ZQ_WAVE_OUT_PCM", ("file:\"" + dir.filePath("speakers.raw") + "\",raw").toLocal8Bit().constData(),
        1);
    UseFastRings();
}

} // namespace zqtest

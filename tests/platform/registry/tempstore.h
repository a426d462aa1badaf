#pragma once
// Each test works on a store file of its own in a fresh folder.
#include "registry.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <string>

class TempStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        UseStore(dir_.filePath("registry.json"));
    }
    void TearDown() override { qunsetenv("ZQ_REGISTRY_FILE"); }

    void UseStore(const QString& path)
    {
        storePath_ = path;
        qputenv("ZQ_REGISTRY_FILE", path.toLocal8Bit());
    }

    // Sets a string value under HKEY_LOCAL_MACHINE\path, making the key.
    static LONG SetString(const char* path, const char* name, const std::string& text)
    {
        HKEY key = nullptr;
        LONG rc
            = RegCreateKeyEx(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (rc != LONG(ERROR_SUCCESS))
            return rc;
        rc = RegSetValueEx(
            key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), DWORD(text.size() + 1));
        RegCloseKey(key);
        return rc;
    }

    QTemporaryDir dir_;
    QString storePath_;
};

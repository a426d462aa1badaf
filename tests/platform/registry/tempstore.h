#pragma once
// Each test works on a store file of its own in a fresh folder.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

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

    QTemporaryDir dir_;
    QString storePath_;
};

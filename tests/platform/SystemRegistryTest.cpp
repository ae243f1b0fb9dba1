#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/SystemRegistry.h"

using namespace registry;

namespace {

const std::string kToolKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";

// Each test sees only its own folder on PATH.
class SystemRegistryOnPath : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bin.isValid());
        m_savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(m_bin.path()));
    }
    void TearDown() override { qputenv("PATH", m_savedPath); }

    QString addProgram(const QString& name, bool executable = true) {
        QFile file(m_bin.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner |
                            (executable ? QFile::ExeOwner : QFile::Permissions{}));
        return file.fileName();
    }

    QTemporaryDir m_bin;
    QByteArray m_savedPath;
    SystemRegistry m_registry;
};

TEST_F(SystemRegistryOnPath, PresentsAKnownToolAsTheTerminatedPathValue) {
    const QString tool = addProgram(QStringLiteral("hardinfo"));
    HKEY key = 0;
    ASSERT_EQ(m_registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kToolKey, 0, 0x2003F, &key), ERROR_SUCCESS);

    std::uint8_t data[1024] = {};
    std::uint32_t size = sizeof data;
    std::uint32_t type = REG_NONE;
    ASSERT_EQ(m_registry.RegQueryValueExA(key, "path", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    const QByteArray expected = QFile::encodeName(tool) + '\0';
    ASSERT_EQ(size, static_cast<std::uint32_t>(expected.size()));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(data), size), expected);

    EXPECT_EQ(m_registry.RegQueryValueExA(key, "MSINFO", nullptr, &type, data, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(m_registry.RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(m_registry.RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(SystemRegistryOnPath, AnswersSizeQueriesAndShortBuffersAsTheClassicCall) {
    const QString tool = addProgram(QStringLiteral("kinfocenter"));
    const auto needed = static_cast<std::uint32_t>(QFile::encodeName(tool).size() + 1);
    HKEY key = 0;
    ASSERT_EQ(m_registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kToolKey, 0, 0x2003F, &key), ERROR_SUCCESS);

    std::uint32_t size = 0;
    EXPECT_EQ(m_registry.RegQueryValueExA(key, "PATH", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, needed);

    std::uint8_t small[4] = {};
    size = sizeof small;
    EXPECT_EQ(m_registry.RegQueryValueExA(key, "PATH", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(small[0], 0) << "nothing is copied into a buffer too small";
    m_registry.RegCloseKey(key);
}

TEST_F(SystemRegistryOnPath, WithoutAKnownToolTheKeyDoesNotExist) {
    addProgram(QStringLiteral("hardinfo"), false); // present but not executable
    addProgram(QStringLiteral("msinfo32"));
    HKEY key = 0x1234;
    EXPECT_EQ(m_registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kToolKey, 0, 0x2003F, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, 0x1234u);
}

TEST_F(SystemRegistryOnPath, OnlyTheToolKeyUnderTheMachineRootExists) {
    addProgram(QStringLiteral("hardinfo"));
    HKEY key = 0;
    EXPECT_EQ(m_registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools Location", 0, 0,
                                       &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(m_registry.RegOpenKeyExA(0x80000001, kToolKey, 0, 0, &key), ERROR_FILE_NOT_FOUND);
    std::uint32_t size = 8;
    std::uint8_t data[8];
    EXPECT_EQ(m_registry.RegQueryValueExA(0x42, "PATH", nullptr, nullptr, data, &size), ERROR_INVALID_HANDLE);
}

} // namespace

#pragma once
// Puts the whole test program under a language whose decimal mark is a comma (German), as a desktop
// set to it would: the C library's numeric locale, the C++ global locale and Qt's default locale.
// A machine without the German locale compiled gets it compiled into a folder of the test's own
// (localedef, from the system's locale sources) and found through LOCPATH; nothing of the system's
// is changed. Everything is put back when the object goes.
#include <QLocale>
#include <QProcess>
#include <clocale>
#include <cstdlib>
#include <locale>
#include <stdexcept>
#include <string>

#include "support/AudioFixtures.h"

class CommaLocale {
public:
    static constexpr const char* kName = "de_DE.UTF-8";

    CommaLocale() : m_oldNumeric(std::setlocale(LC_NUMERIC, nullptr)), m_oldQt(QLocale()) {
        if (std::setlocale(LC_NUMERIC, kName) == nullptr) {
            const std::string compiled = m_dir.file(kName);
            QProcess::execute(QStringLiteral("localedef"),
                              {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                               QStringLiteral("UTF-8"), QString::fromStdString(compiled)});
            ::setenv("LOCPATH", m_dir.path().c_str(), 1);
            m_setLocPath = true;
            std::setlocale(LC_NUMERIC, kName);
        }
        try {
            m_oldGlobal = std::locale::global(std::locale(kName));
        } catch (const std::runtime_error&) {
        }
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    ~CommaLocale() {
        QLocale::setDefault(m_oldQt);
        std::locale::global(m_oldGlobal);
        std::setlocale(LC_NUMERIC, m_oldNumeric.c_str());
        if (m_setLocPath)
            ::unsetenv("LOCPATH");
    }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    // Whether the C library now writes and reads numbers with a comma.
    static bool inForce() { return std::string(std::localeconv()->decimal_point) == ","; }

private:
    fixtures::TempDir m_dir;
    std::string m_oldNumeric;
    QLocale m_oldQt;
    std::locale m_oldGlobal = std::locale();
    bool m_setLocPath = false;
};

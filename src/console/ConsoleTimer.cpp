#include "console/ConsoleTimer.h"

ConsoleTimer::ConsoleTimer(QObject* parent, const char* name, int intervalMs) : QObject(parent) {
    setObjectName(QString::fromLatin1(name));
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ConsoleTimer::timeout);
}

void ConsoleTimer::start() {
    m_enabled = true;
    if (m_sleeping)
        m_timer.stop();
    else
        m_timer.start();
}

void ConsoleTimer::stop() {
    m_enabled = false;
    m_timer.stop();
}

void ConsoleTimer::setSleeping(bool sleeping) {
    if (sleeping == m_sleeping)
        return;
    m_sleeping = sleeping;
    if (m_enabled)
        start();
}

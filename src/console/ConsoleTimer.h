#pragma once
// A timer of the console window, on the window's thread: enabled from start-up at its interval,
// precise, as the window's controls expect. A timer whose ticks have nothing to do may sleep
// (the fade timer while no fade runs): it stays enabled at its interval, but wakes the thread no
// more, so that a console at rest costs the machine next to nothing. Woken, it ticks one interval
// later and then at its interval.
#include <QObject>
#include <QTimer>

class ConsoleTimer : public QObject {
    Q_OBJECT
public:
    ConsoleTimer(QObject* parent, const char* name, int intervalMs);

    void start(); // enables it; its next tick is one interval from now
    void stop();
    bool isActive() const { return m_enabled; }
    int interval() const { return m_timer.interval(); }
    Qt::TimerType timerType() const { return m_timer.timerType(); }

    void setSleeping(bool sleeping);
    // Whether it wakes the thread: enabled and not sleeping.
    bool isTicking() const { return m_timer.isActive(); }

signals:
    void timeout();

private:
    QTimer m_timer;
    bool m_enabled = false;
    bool m_sleeping = false;
};

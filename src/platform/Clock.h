#pragma once
// The local time of day behind a seam, so tests can set the time.
#include <QTime>

class Clock {
public:
    virtual ~Clock() = default;
    virtual QTime currentTime() const = 0;
};

class SystemClock final : public Clock {
public:
    QTime currentTime() const override { return QTime::currentTime(); }
};

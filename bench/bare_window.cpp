// What a plain Qt window costs that does what the console's displays do: five time labels, three of
// them counting down from three clocks of unrelated phase (the decks), one repeating the first
// (the big display) and one counting up (the running time), all set on a 50 ms precise timer,
// ten changes a second each. It shows the floor that Qt and the X server set for the console's
// window thread (bench/README.md); it runs until it is killed. An argument from 0 to 5 sets how
// many of the labels are set (the first ones): 0 leaves the timer ticking alone, 1 sets one label a
// tick (repainted at each of its ten changes a second), so that the cost of a tick, of a repaint
// and of each label can be told apart.
#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <array>

namespace {
QString timeText(double seconds) {
    const int whole = static_cast<int>(seconds);
    return QString::asprintf("%02d:%02d:%04.1f", whole / 3600, whole / 60 % 60, seconds - whole / 60 * 60);
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    const int changing = arguments.size() > 1 ? std::clamp(arguments[1].toInt(), 0, 5) : 5;
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare window"));
    window.resize(640, 480);
    auto* players = new QGroupBox(QStringLiteral("Players"), &window);
    players->setGeometry(8, 8, 380, 300);
    std::array<QLabel*, 5> labels{};
    for (int i = 0; i < 5; ++i) {
        const bool deck = i < 3;
        labels[i] = new QLabel(deck ? static_cast<QWidget*>(players) : &window);
        labels[i]->setGeometry(deck ? QRect(200, 30 + 90 * i, 150, 30)
                                    : QRect(400, 220 + 60 * (i - 3), 140, 50));
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPointSizeF(deck ? 14.0 : 27.75);
        labels[i]->setFont(font);
        labels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        labels[i]->setAutoFillBackground(true);
        QPalette palette = labels[i]->palette();
        palette.setColor(QPalette::Window, Qt::black);
        palette.setColor(QPalette::WindowText, Qt::green);
        labels[i]->setPalette(palette);
    }
    QElapsedTimer clock;
    clock.start();
    constexpr std::array<double, 3> phase{0.0, 0.037, 0.071}; // seconds
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(50);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = static_cast<double>(clock.elapsed()) / 1000.0;
        for (int i = 0; i < std::min(changing, 3); ++i)
            labels[i]->setText(timeText(600.0 - now - phase[i]));
        if (changing > 3)
            labels[3]->setText(labels[0]->text());
        if (changing > 4)
            labels[4]->setText(timeText(now + phase[0]));
    });
    tick.start();
    window.show();
    return QApplication::exec();
}

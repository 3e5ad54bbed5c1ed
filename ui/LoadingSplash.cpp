// SPDX-License-Identifier: MIT
#include "ui/LoadingSplash.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QSplashScreen>

#include <algorithm>

namespace {

constexpr qint64 lookEvery = 4096;    // accounts between two looks at the clock: well under 1 ms
constexpr qint64 showAfterMs = 500;   // a load this short shows nothing
constexpr qint64 updateEveryMs = 100; // the count shown changes this often

std::function<qint64()> testClock;

qint64 now() {
    if (testClock)
        return testClock();
    static QElapsedTimer steady;
    if (!steady.isValid())
        steady.start();
    return steady.elapsed();
}

QString message(qint64 read) {
    return QCoreApplication::translate("LoadingSplash", "Loading the registry…\n%1 accounts read")
        .arg(QLocale().toString(read));
}

} // namespace

LoadingSplash::LoadingSplash() : m_start(now()), m_nextLook(lookEvery) {}

LoadingSplash::~LoadingSplash() = default;

void LoadingSplash::setClockForTesting(std::function<qint64()> clock) {
    testClock = std::move(clock);
}

void LoadingSplash::look() {
    m_nextLook = m_read + lookEvery;
    const qint64 elapsed = now() - m_start;
    if (!m_window) {
        if (elapsed < showAfterMs)
            return;
        // A plain panel in the window colours, wide enough for the longest count.
        const QFontMetrics metrics{QFont()};
        int width = 0;
        for (const QString& line : message(9'999'999'999).split(QLatin1Char('\n')))
            width = std::max(width, metrics.horizontalAdvance(line));
        QPixmap panel(width + 4 * metrics.height(), 5 * metrics.height());
        panel.fill(QPalette().color(QPalette::Window));
        QPainter frame(&panel);
        frame.setPen(QPalette().color(QPalette::Mid));
        frame.drawRect(panel.rect().adjusted(0, 0, -1, -1));
        frame.end();
        m_window = std::make_unique<QSplashScreen>(panel);
        m_window->setObjectName(QStringLiteral("frmLoading"));
        m_window->setWindowTitle(QStringLiteral("Vantrel"));
        m_window->setAccessibleName(QCoreApplication::translate("LoadingSplash", "Loading the registry"));
        m_window->show();
    } else if (elapsed - m_lastShown < updateEveryMs) {
        return;
    }
    m_lastShown = elapsed;
    m_window->showMessage(message(m_read), Qt::AlignCenter, QPalette().color(QPalette::WindowText));
    // Lets the window system draw it; the operator's clicks and keys wait for the list.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

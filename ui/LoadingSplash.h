// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

class QSplashScreen;

// Shows that Vantrel is reading its registry while a long load keeps the program busy: a small
// window with the number of accounts read so far. A load that ends within half a second shows
// nothing; the window goes with the object, before anything else is shown.
//
// The program has one thread and nothing runs beside the load, so the load tells it of every
// account it reads; the clock is looked at only every few thousand accounts.
class LoadingSplash {
public:
    LoadingSplash();
    ~LoadingSplash();
    LoadingSplash(const LoadingSplash&) = delete;
    LoadingSplash& operator=(const LoadingSplash&) = delete;

    // One more account read. Cheap enough to call for every row.
    void accountRead() {
        if (++m_read >= m_nextLook)
            look();
    }

    // Replaces the clock (milliseconds from any fixed start) for every splash made later; an
    // empty function restores the steady clock. For tests: the program never calls it.
    static void setClockForTesting(std::function<qint64()> clock);

private:
    void look();

    qint64 m_start;
    qint64 m_read = 0;
    qint64 m_nextLook;
    qint64 m_lastShown = 0;
    std::unique_ptr<QSplashScreen> m_window;
};

// SPDX-License-Identifier: MIT
// Times the list's type-ahead, in-process, on the registry in FOLDER: RUNS searches, each for the
// first one to three characters of a name picked at random, typed one key at a time as a new
// search. Prints the median and the slowest keystroke:
//   typeahead_ms=<median> typeahead_max_ms=<max>
// With --linear, also the same for Qt's own type-ahead, which scans the list row by row:
//   linear_ms=<median> linear_max_ms=<max>
//
//   vantrel-typeahead-probe FOLDER [RUNS] [--linear]
#include "store/mdlDatabase.h"
#include "ui/MessageBox.h"
#include "ui/UserListModel.h"
#include "ui/UserListView.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QTableView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Times {
    double median;
    double max;
};

Times summary(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: vantrel-typeahead-probe FOLDER [RUNS] [--linear]\n");
        return 64;
    }
    mdlDatabase::SetRegistryFolderForTesting(argv[1]);
    MessageBox::answerForTesting(true);
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 201;

    frmMain window;
    if (window.Form_Load() != frmMain::LoadResult::Loaded) {
        std::fprintf(stderr, "%s\n", qPrintable(MessageBox::shownForTesting().join('\n')));
        return 2;
    }
    UserListModel* users = window.users();
    if (users->rowCount() == 0) {
        std::fprintf(stderr, "the registry holds no accounts\n");
        return 2;
    }

    std::mt19937 random(1);
    std::vector<QStringList> searches;
    for (int run = 0; run < runs; ++run) {
        const QString name = users->name(int(random() % unsigned(users->rowCount())));
        QStringList keys;
        for (int i = 0; i < std::min<qsizetype>(name.size(), 1 + run % 3); ++i)
            keys << name.mid(i, 1);
        searches.push_back(keys);
    }

    // Qt's own type-ahead, over the same names, for comparison: a plain table view.
    QTableView linearView;
    linearView.setModel(users);

    auto time = [&](QAbstractItemView* view) {
        std::vector<double> keystrokes;
        for (const QStringList& keys : searches) {
            view->setCurrentIndex(users->index(int(random() % unsigned(users->rowCount())), 0));
            std::this_thread::sleep_for(std::chrono::milliseconds(2)); // past the interval: a new search
            for (const QString& key : keys) {
                const auto start = Clock::now();
                view->keyboardSearch(key);
                keystrokes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
        }
        return summary(keystrokes);
    };
    QApplication::setKeyboardInputInterval(1); // the keys of one search come at once
    const Times own = time(window.lstUser());
    std::printf("typeahead_ms=%.3f typeahead_max_ms=%.3f", own.median, own.max);
    if (argc > 3 && std::string_view(argv[3]) == "--linear") {
        const Times linear = time(&linearView);
        std::printf(" linear_ms=%.3f linear_max_ms=%.3f", linear.median, linear.max);
    }
    std::printf("\n");
    return 0;
}

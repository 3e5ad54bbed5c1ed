// SPDX-License-Identifier: MIT
// Times the account editor's load handler and its Edit handler, in-process, on the registry in
// FOLDER: the median of RUNS loads and saves of the account USER. Prints
//   load_ms=<median> edit_ms=<median>
//
//   vantrel-editor-probe FOLDER USER [RUNS]
#include "store/mdlDatabase.h"
#include "ui/LimitedLineEdit.h"
#include "ui/MessageBox.h"
#include "ui/frmEdit.h"

#include <QApplication>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: vantrel-editor-probe FOLDER USER [RUNS]\n");
        return 64;
    }
    mdlDatabase::SetRegistryFolderForTesting(argv[1]);
    MessageBox::answerForTesting(true);
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 101;

    using Clock = std::chrono::steady_clock;
    std::vector<double> loads;
    std::vector<double> edits;
    for (int run = 0; run < runs; ++run) {
        auto* editor = new frmEdit();
        editor->User = QString::fromLocal8Bit(argv[2]);
        const auto loadStart = Clock::now();
        const bool loaded = editor->load();
        loads.push_back(std::chrono::duration<double, std::milli>(Clock::now() - loadStart).count());
        if (!loaded) {
            std::fprintf(stderr, "%s\n", qPrintable(MessageBox::shownForTesting().join('\n')));
            return 2;
        }
        editor->txtName->loadText(QStringLiteral("Run %1").arg(run));
        const auto editStart = Clock::now();
        editor->cmdEdit->click();
        edits.push_back(std::chrono::duration<double, std::milli>(Clock::now() - editStart).count());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!MessageBox::shownForTesting().isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(MessageBox::shownForTesting().join('\n')));
            return 2;
        }
    }
    std::printf("load_ms=%.3f edit_ms=%.3f\n", median(loads), median(edits));
    return 0;
}

// Writes runs of one unit into the history named on its command line, one record after
// another, printing each one's number once it is written, until it is killed.
#include <QCoreApplication>
#include <cstdio>

#include "history/history_store.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        return 2;
    }
    k9::HistoryStore store(
        argv[1], [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }, 1000);
    for (int i = 1;; ++i) {
        k9::RunRecord run;
        run.serialNumber = "K9KILL1";
        run.end = k9::RunEnd::Updated;
        run.linesSent = i;
        run.started = run.ended = 1793620800 + i;
        if (store.add(*k9::historyEntryFor(run, "writer")) != k9::HistoryStore::Write::Done) {
            return 1;
        }
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
}

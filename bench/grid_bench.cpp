// Prints how long the status grid takes to rebuild from a full table of 32767 Targets.
#include "engine/StatusGrid.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <limits>

using namespace sentrel;

int main()
{
    TargetTable table;
    table[0].Status = 0;
    while (table.growtable()) { }
    for (int i = 0; i < table.size(); ++i) {
        Target &t = table[static_cast<int16_t>(i)];
        t.Status = static_cast<int16_t>(i % 4);
        t.Desc = QStringLiteral("Host number %1").arg(i);
        t.Info = QStringLiteral("220 host%1.example ESMTP ready").arg(i);
        t.Output = QStringLiteral("line one\r\nline two\r\n");
    }

    TargetGrid grid(table);
    qint64 best = std::numeric_limits<qint64>::max();
    for (int run = 0; run < 7; ++run) {
        grid.setCurrentRow(grid.rowCount() > 1 ? 1 : 0);
        QElapsedTimer timer;
        timer.start();
        grid.load_display();
        best = std::min(best, timer.nsecsElapsed());
    }
    std::printf("load_display, %d Targets: %.2f ms (best of 7)\n", static_cast<int>(table.size()),
        static_cast<double>(best) / 1e6);
    return grid.rowCount() == table.size() + 1 ? 0 : 1;
}

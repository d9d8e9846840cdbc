#include "shell/AutoSizeColumns.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTreeWidget>

#include <algorithm>

namespace quelvo {

namespace {

int ItemsFit(QTreeWidget* list, int column) {
    // Through the base class, where the item fit is public; the tree view computes it.
    return std::max(static_cast<const QAbstractItemView*>(list)->sizeHintForColumn(column), 0);
}

int HeaderFit(QTreeWidget* list, int column) {
    int fit = list->header()->sectionSizeHint(column);
    if (column == list->columnCount() - 1) {
        // The last column fills what the others leave of the list's width.
        int others = 0;
        for (int c = 0; c < column; ++c) {
            others += list->columnWidth(c);
        }
        fit = std::max(fit, list->viewport()->width() - others);
    }
    return fit;
}

}  // namespace

void AutoSizeColumn(QTreeWidget* list, int column, int mode) {
    switch (mode) {
        case -1:
            list->setColumnWidth(column, ItemsFit(list, column));
            break;
        case -2:
            list->setColumnWidth(column, HeaderFit(list, column));
            break;
        case -3:
            list->setColumnWidth(column, std::max(ItemsFit(list, column), HeaderFit(list, column)));
            break;
        default:
            break;
    }
}

void AutoSizeColumns(QTreeWidget* list, int mode) {
    for (int c = 0; c < list->columnCount(); ++c) {
        AutoSizeColumn(list, c, mode);
    }
}

}  // namespace quelvo

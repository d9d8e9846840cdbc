#pragma once

class QTreeWidget;

namespace quelvo {

// Column fitting of a report list. Modes: -1 fits the column to its widest item, -2 to its header
// text (the last column then fills the rest of the list's width), -3 to the wider of the two;
// any other mode does nothing.
void AutoSizeColumn(QTreeWidget* list, int column, int mode);
// AutoSizeColumn on every column, left to right.
void AutoSizeColumns(QTreeWidget* list, int mode);

}  // namespace quelvo

#pragma once

namespace varno::ui {

// Style sheet of the tables on the pages (the live page's alarm table, the
// playback page's recordings): the dark look of the dialogs' tables.
inline constexpr const char *kTableStyle =
    "QTableWidget { background: rgb(24, 27, 32); alternate-background-color: rgb(31, 35, 42);"
    " color: rgb(220, 224, 230); gridline-color: rgb(52, 58, 68); border: 1px solid rgb(60, 67, 78);"
    " selection-background-color: rgb(47, 109, 181); selection-color: white; }"
    "QHeaderView { background-color: rgb(47, 54, 64); border: none; }"
    "QHeaderView::section { background-color: rgb(47, 54, 64); color: rgb(220, 224, 230); border: none;"
    " border-right: 1px solid rgb(60, 67, 78); border-bottom: 1px solid rgb(60, 67, 78); padding: 4px 6px; }"
    "QTableCornerButton::section { background-color: rgb(47, 54, 64); border: none; }"
    "QScrollBar:vertical { background: rgb(30, 34, 40); width: 12px; margin: 0; }"
    "QScrollBar::handle:vertical { background: rgb(74, 82, 94); min-height: 24px; border-radius: 5px; margin: 1px; }"
    "QScrollBar:horizontal { background: rgb(30, 34, 40); height: 12px; margin: 0; }"
    "QScrollBar::handle:horizontal { background: rgb(74, 82, 94); min-width: 24px; border-radius: 5px; margin: 1px; }"
    "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }";

} // namespace varno::ui
